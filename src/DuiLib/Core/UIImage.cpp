#include "DuiLib/Core/UIImage.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <fstream>

#include "DuiLib/Core/UIManager.h"

namespace DuiLib {

TImageInfo::~TImageInfo() {
    if (hBitmap) DeleteObject(hBitmap);
}

DWORD TImageInfo::PixelAt(int x, int y) const {
    if (!bits || x < 0 || y < 0 || x >= width || y >= height) return 0;
    const BYTE* p = bits + (static_cast<size_t>(y) * width + x) * 4;
    return (DWORD(p[3]) << 24) | (DWORD(p[2]) << 16) | (DWORD(p[1]) << 8) | p[0];
}

namespace ImageCodec {
namespace {

void UpdateAlphaFlag(TImageInfo& image) {
    image.alpha = false;
    size_t n = static_cast<size_t>(image.width) * image.height;
    for (size_t i = 0; i < n; ++i)
        if (image.bits[i * 4 + 3] != 255) {
            image.alpha = true;
            return;
        }
}

// Weights of the source pixels that cover each destination pixel along one axis: an area average
// when shrinking (every source pixel counts by how much of it falls in), linear interpolation
// when growing.
struct Tap {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Tap> Taps(int source, int dest) {
    std::vector<Tap> taps(dest);
    double ratio = static_cast<double>(source) / dest;
    for (int d = 0; d < dest; ++d) {
        Tap& t = taps[d];
        if (ratio >= 1.0) {
            double a = d * ratio, b = (d + 1) * ratio;
            int s0 = static_cast<int>(std::floor(a));
            int s1 = std::min(source, static_cast<int>(std::ceil(b)));
            t.first = s0;
            for (int s = s0; s < s1; ++s) {
                double cover = std::min<double>(b, s + 1) - std::max<double>(a, s);
                t.weights.push_back(static_cast<float>(cover / ratio));
            }
        } else {
            double centre = (d + 0.5) * ratio - 0.5;
            int s0 = static_cast<int>(std::floor(centre));
            double f = centre - s0;
            int a = std::clamp(s0, 0, source - 1), b = std::clamp(s0 + 1, 0, source - 1);
            if (a == b) {
                t.first = a;
                t.weights = {1.0f};
            } else {
                t.first = a;
                t.weights = {static_cast<float>(1.0 - f), static_cast<float>(f)};
            }
        }
    }
    return taps;
}

}  // namespace

bool EnsureGdiplus() {
    static ULONG_PTR token = 0;
    static bool started = false;
    if (!started) {
        Gdiplus::GdiplusStartupInput input;
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }
    return started;
}

std::unique_ptr<TImageInfo> Create(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) return nullptr;
    auto image = std::make_unique<TImageInfo>();
    image->hBitmap = bitmap;
    image->bits = static_cast<BYTE*>(bits);
    image->width = width;
    image->height = height;
    std::memset(bits, 0, static_cast<size_t>(width) * height * 4);
    image->alpha = true;
    return image;
}

namespace {

// Copies the active frame of a GDI+ bitmap into a new premultiplied image.
std::unique_ptr<TImageInfo> FromGdiplus(Gdiplus::Bitmap& bitmap) {
    int w = static_cast<int>(bitmap.GetWidth()), h = static_cast<int>(bitmap.GetHeight());
    auto image = Create(w, h);
    if (!image) return nullptr;
    Gdiplus::Rect rect(0, 0, w, h);
    Gdiplus::BitmapData data{};
    if (bitmap.LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) != Gdiplus::Ok) return nullptr;
    for (int y = 0; y < h; ++y)
        std::memcpy(image->bits + static_cast<size_t>(y) * w * 4, static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    static_cast<size_t>(w) * 4);
    bitmap.UnlockBits(&data);
    UpdateAlphaFlag(*image);
    return image;
}

}  // namespace

std::unique_ptr<TImageInfo> Decode(const void* data, size_t size) {
    if (!data || size == 0 || !EnsureGdiplus()) return nullptr;
    IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size));
    if (!stream) return nullptr;
    std::unique_ptr<TImageInfo> image;
    {
        Gdiplus::Bitmap bitmap(stream);
        if (bitmap.GetLastStatus() == Gdiplus::Ok && bitmap.GetWidth() > 0) image = FromGdiplus(bitmap);
    }
    stream->Release();
    return image;
}

bool DecodeFrames(const void* data, size_t size, std::vector<std::unique_ptr<TImageInfo>>& frames, std::vector<int>& delays) {
    frames.clear();
    delays.clear();
    if (!data || size == 0 || !EnsureGdiplus()) return false;
    IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size));
    if (!stream) return false;
    {
        Gdiplus::Bitmap bitmap(stream);
        if (bitmap.GetLastStatus() == Gdiplus::Ok) {
            // The frame dimension of animated images, spelled out: gdiplus.dll is delay-loaded, and the
            // import library's data constant does not come along with it.
            GUID dimension = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
            UINT count = bitmap.GetFrameCount(&dimension);
            if (count == 0) count = 1;
            std::vector<int> frameDelays;
            UINT propSize = bitmap.GetPropertyItemSize(PropertyTagFrameDelay);
            if (propSize > 0) {
                std::vector<BYTE> buffer(propSize);
                auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
                if (bitmap.GetPropertyItem(PropertyTagFrameDelay, propSize, item) == Gdiplus::Ok) {
                    const LONG* values = static_cast<const LONG*>(item->value);
                    for (UINT i = 0; i < item->length / sizeof(LONG); ++i) frameDelays.push_back(static_cast<int>(values[i]) * 10);
                }
            }
            for (UINT i = 0; i < count; ++i) {
                if (count > 1) bitmap.SelectActiveFrame(&dimension, i);
                auto frame = FromGdiplus(bitmap);
                if (!frame) break;
                frames.push_back(std::move(frame));
                int delay = i < frameDelays.size() ? frameDelays[i] : 100;
                delays.push_back(delay < 20 ? 100 : delay);  // browsers treat tiny delays as 100 ms too
            }
        }
    }
    stream->Release();
    return !frames.empty();
}

std::unique_ptr<TImageInfo> FromHBitmap(HBITMAP bitmap, bool hasAlpha) {
    BITMAP bm{};
    if (!bitmap || !GetObjectW(bitmap, sizeof(bm), &bm)) return nullptr;
    auto image = Create(bm.bmWidth, std::abs(bm.bmHeight));
    if (!image) return nullptr;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = image->width;
    bmi.bmiHeader.biHeight = -image->height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int lines = GetDIBits(dc, bitmap, 0, image->height, image->bits, &bmi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (lines != image->height) return nullptr;
    size_t n = static_cast<size_t>(image->width) * image->height;
    for (size_t i = 0; i < n; ++i) {
        BYTE* p = image->bits + i * 4;
        if (!hasAlpha) p[3] = 255;
        else if (p[3] != 255) {  // straight alpha in, premultiplied out
            p[0] = static_cast<BYTE>(p[0] * p[3] / 255);
            p[1] = static_cast<BYTE>(p[1] * p[3] / 255);
            p[2] = static_cast<BYTE>(p[2] * p[3] / 255);
        }
    }
    UpdateAlphaFlag(*image);
    return image;
}

std::unique_ptr<TImageInfo> Resize(const TImageInfo& source, int width, int height) {
    if (!source.bits || width <= 0 || height <= 0) return nullptr;
    auto out = Create(width, height);
    if (!out) return nullptr;
    if (width == source.width && height == source.height) {
        std::memcpy(out->bits, source.bits, static_cast<size_t>(width) * height * 4);
        out->alpha = source.alpha;
        return out;
    }
    // Separable: rows first into a float buffer, then columns.
    std::vector<Tap> xs = Taps(source.width, width), ys = Taps(source.height, height);
    std::vector<float> mid(static_cast<size_t>(width) * source.height * 4);
    for (int y = 0; y < source.height; ++y) {
        const BYTE* row = source.bits + static_cast<size_t>(y) * source.width * 4;
        float* dst = &mid[static_cast<size_t>(y) * width * 4];
        for (int x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            const Tap& t = xs[x];
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const BYTE* p = row + static_cast<size_t>(t.first + k) * 4;
                for (int c = 0; c < 4; ++c) acc[c] += p[c] * t.weights[k];
            }
            for (int c = 0; c < 4; ++c) dst[x * 4 + c] = acc[c];
        }
    }
    for (int y = 0; y < height; ++y) {
        const Tap& t = ys[y];
        BYTE* dst = out->bits + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const float* p = &mid[(static_cast<size_t>(t.first + k) * width + x) * 4];
                for (int c = 0; c < 4; ++c) acc[c] += p[c] * t.weights[k];
            }
            BYTE a = static_cast<BYTE>(std::clamp(std::lround(acc[3]), 0L, 255L));
            dst[x * 4 + 3] = a;
            for (int c = 0; c < 3; ++c)  // premultiplied: a colour never exceeds its alpha
                dst[x * 4 + c] = static_cast<BYTE>(std::clamp(std::lround(acc[c]), 0L, static_cast<long>(a)));
        }
    }
    UpdateAlphaFlag(*out);
    return out;
}

}  // namespace ImageCodec

bool CDefaultImageSource::Read(const std::wstring& name, std::string& bytes) {
    if (CPaintManagerUI::GetResourceZip().ReadEntry(name, bytes)) return true;
    // A full path (a downloaded banner) is read from the disk.
    bool absolute = (name.size() > 2 && name[1] == L':') || (name.size() > 2 && name[0] == L'\\' && name[1] == L'\\');
    if (!absolute) return false;
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (64LL << 20);
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
    }
    CloseHandle(file);
    if (!ok) bytes.clear();
    return ok;
}

CImageCache::CImageCache(IImageSource* source) : m_source(source ? source : &m_defaultSource) {}
CImageCache::~CImageCache() = default;

std::wstring CImageCache::Key(const std::wstring& name) {
    std::wstring key;
    key.reserve(name.size());
    for (wchar_t c : name) key.push_back(c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c)));
    return key;
}

std::wstring CImageCache::HiResName(const std::wstring& name) {
    size_t slash = name.find_last_of(L"\\/");
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return name + L"@2x";
    return name.substr(0, dot) + L"@2x" + name.substr(dot);
}

CImageCache::Entry* CImageCache::Load(const std::wstring& name) {
    if (name.empty()) return nullptr;
    std::wstring key = Key(name);
    auto it = m_entries.find(key);
    if (it != m_entries.end()) return it->second.missing ? nullptr : &it->second;
    Entry& entry = m_entries[key];
    std::string bytes;
    if (m_source->Read(name, bytes)) entry.base = ImageCodec::Decode(bytes.data(), bytes.size());
    if (!entry.base) {
        entry.missing = true;
        return nullptr;
    }
    return &entry;
}

// The double-size companion is read only when a scale above 100 % asks for it: at 100 % (most
// screens) decoding it would cost four times the pixels of the image itself for nothing.
const TImageInfo* CImageCache::HiRes(const std::wstring& name, Entry& entry) {
    if (entry.hiResLooked) return entry.hiRes.get();
    entry.hiResLooked = true;
    std::string bytes;
    if (m_source->Read(HiResName(name), bytes)) {
        entry.hiRes = ImageCodec::Decode(bytes.data(), bytes.size());
        // Only a true double-size companion is used in place of the image.
        if (entry.hiRes && (entry.hiRes->width != entry.base->width * 2 || entry.hiRes->height != entry.base->height * 2))
            entry.hiRes.reset();
    }
    return entry.hiRes.get();
}

bool CImageCache::Has(const std::wstring& name) {
    if (name.empty()) return false;
    auto it = m_entries.find(Key(name));
    if (it != m_entries.end()) return !it->second.missing;
    std::string bytes;
    return m_source->Read(name, bytes) && !bytes.empty();
}

const TImageInfo* CImageCache::Get(const std::wstring& name) {
    Entry* e = Load(name);
    return e ? e->base.get() : nullptr;
}

const TImageInfo* CImageCache::GetScaled(const std::wstring& name, int scalePercent) {
    Entry* e = Load(name);
    if (!e) return nullptr;
    if (scalePercent == e->nativeScale || (e->nativeScale == 100 && scalePercent <= 100)) return e->base.get();
    if (e->nativeScale != 100) {
        // Drawn for another scale: resized from what there is, once per scale.
        auto found = e->scaled.find(scalePercent);
        if (found != e->scaled.end()) return found->second.get();
        int w = std::max(1, MulDiv(e->base->width, scalePercent, e->nativeScale));
        int h = std::max(1, MulDiv(e->base->height, scalePercent, e->nativeScale));
        auto image = ImageCodec::Resize(*e->base, w, h);
        const TImageInfo* result = image.get();
        e->scaled[scalePercent] = std::move(image);
        return result ? result : e->base.get();
    }
    const TImageInfo* hiRes = HiRes(name, *e);
    if (scalePercent == 200 && hiRes) return hiRes;
    auto found = e->scaled.find(scalePercent);
    if (found != e->scaled.end()) return found->second.get();
    const TImageInfo& from = hiRes ? *hiRes : *e->base;
    int w = std::max(1, (e->base->width * scalePercent + 50) / 100);
    int h = std::max(1, (e->base->height * scalePercent + 50) / 100);
    auto image = ImageCodec::Resize(from, w, h);
    const TImageInfo* result = image.get();
    e->scaled[scalePercent] = std::move(image);
    return result ? result : e->base.get();
}

void CImageCache::Add(const std::wstring& name, std::unique_ptr<TImageInfo> image, int scalePercent) {
    if (name.empty() || !image) return;
    Entry entry;
    entry.base = std::move(image);
    entry.nativeScale = scalePercent > 0 ? scalePercent : 100;
    entry.hiResLooked = true;  // an image added by name has no companion
    m_entries[Key(name)] = std::move(entry);
}

void CImageCache::Remove(const std::wstring& name) { m_entries.erase(Key(name)); }

void CImageCache::Clear() { m_entries.clear(); }

}  // namespace DuiLib
