// The carousel of the running page and the banners from the data service. Until they come the
// running page keeps its first built-in picture: no banner thread, no sliding.
#include "window/install_ui_mainwnd.h"

void InstallUIMainWnd::StartBannerThread() {}

void InstallUIMainWnd::StartCarousel() {}

void InstallUIMainWnd::OnCarouselTimer() {}

void InstallUIMainWnd::OnBannersReady() {}
