#pragma once
// Images: decoding (PNG, JPEG, BMP, GIF through GDI+) into 32-bit premultiplied bitmaps that GDI
// blends with their alpha, high-quality rescaling for screen scales, and the named image cache of
// a window. Every skin image exists as NAME.png and NAME@2x.png; at a scale above 100 % the cache
// draws from the @2x image, scaled down once per scale and kept.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace DuiLib {

struct TImageInfo {
    TImageInfo() = default;
    ~TImageInfo();
    TImageInfo(const TImageInfo&) = delete;
    TImageInfo& operator=(const TImageInfo&) = delete;

    HBITMAP hBitmap = nullptr;  // 32-bit top-down DIB section, premultiplied alpha
    BYTE* bits = nullptr;       // its pixels, BGRA, width * 4 bytes per row
    int width = 0;
    int height = 0;
    bool alpha = false;         // some pixel is not opaque

    DWORD PixelAt(int x, int y) const;  // ARGB (premultiplied), 0 outside
};

namespace ImageCodec {

// Starts GDI+ once per process (never shut down: threads may still hold images at exit).
bool EnsureGdiplus();
// Decodes an image file held in memory. Null when it is not an image.
std::unique_ptr<TImageInfo> Decode(const void* data, size_t size);
// An empty (transparent) image.
std::unique_ptr<TImageInfo> Create(int width, int height);
// A copy of an HBITMAP (any format GDI+ reads; alpha kept for 32-bit ARGB bitmaps).
std::unique_ptr<TImageInfo> FromHBitmap(HBITMAP bitmap, bool hasAlpha);
// The image resized with high-quality bicubic filtering.
std::unique_ptr<TImageInfo> Resize(const TImageInfo& source, int width, int height);
// Every frame of an animated GIF with its delay in milliseconds; a still image gives one frame.
bool DecodeFrames(const void* data, size_t size, std::vector<std::unique_ptr<TImageInfo>>& frames,
                  std::vector<int>& delays);

}  // namespace ImageCodec

// Where images come from: the skin archive, or the file system for a full path (downloaded
// banners). Tests give their own source.
class IImageSource {
public:
    virtual ~IImageSource() = default;
    virtual bool Read(const std::wstring& name, std::string& bytes) = 0;
};

// The skin archive first, then the file system.
class CDefaultImageSource : public IImageSource {
public:
    bool Read(const std::wstring& name, std::string& bytes) override;
};

class CImageCache {
public:
    explicit CImageCache(IImageSource* source = nullptr);
    ~CImageCache();

    // The image at its own size (100 %), loaded on first use; null when there is none.
    const TImageInfo* Get(const std::wstring& name);
    // The image for a screen scale in percent: its own size times the scale, from the @2x image
    // where there is one. Null when there is no such image.
    const TImageInfo* GetScaled(const std::wstring& name, int scalePercent);
    // Adds (or replaces) an image under a name; the cache owns it. scalePercent is the scale the
    // image was drawn for: at that scale it is drawn as it is (pictures the window makes at its
    // own scale, the carousel's frames), at another it is resized from it.
    void Add(const std::wstring& name, std::unique_ptr<TImageInfo> image, int scalePercent = 100);
    bool Exists(const std::wstring& name) { return Get(name) != nullptr; }
    // Whether the source has an image file of that name, without decoding it.
    bool Has(const std::wstring& name);
    void Remove(const std::wstring& name);
    void Clear();
    size_t Count() const { return m_entries.size(); }

    // "dir\name.png" -> "dir\name@2x.png".
    static std::wstring HiResName(const std::wstring& name);

private:
    struct Entry {
        std::unique_ptr<TImageInfo> base;
        std::unique_ptr<TImageInfo> hiRes;  // the @2x image, when it exists
        bool hiResLooked = false;           // decoded on the first use above 100 %, not before
        int nativeScale = 100;              // the scale base was drawn for
        std::map<int, std::unique_ptr<TImageInfo>> scaled;
        bool missing = false;
    };
    Entry* Load(const std::wstring& name);
    const TImageInfo* HiRes(const std::wstring& name, Entry& entry);
    static std::wstring Key(const std::wstring& name);

    IImageSource* m_source;
    CDefaultImageSource m_defaultSource;
    std::map<std::wstring, Entry> m_entries;
};

}  // namespace DuiLib
