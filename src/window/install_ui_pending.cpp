// Parts of the installer window that come with the install flow: the checks before the
// installation and the start of the install worker, and the product start from the finish
// page (which needs the installed product's paths of the install layer). Until they land the
// window logs the request and stays where it is.
#include "window/install_ui_mainwnd.h"

#include <easylogging++.h>

int InstallUIMainWnd::BeginInstallTask() {
    LOG(INFO) << " BeginInstallTask: the install flow is not part of this build";
    return -1;
}

void InstallUIMainWnd::OnFinishStartClick() {
    LOG(INFO) << " Start clicked on the finish page: the product start is not part of this build";
}

void InstallUIMainWnd::LaunchProduct() {
    LOG(INFO) << " LaunchProduct: the product start is not part of this build";
}
