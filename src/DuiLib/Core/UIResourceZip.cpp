#include "DuiLib/Core/UIResourceZip.h"

#include <algorithm>
#include <cstring>

#include <minizip/unzip.h>

#include "base/TextCodec.h"

namespace DuiLib {
namespace {

// minizip reads through these callbacks from a buffer in memory instead of a file.
struct MemoryStream {
    const std::string* data;
    uLong position;
};

voidpf ZCALLBACK MemOpen(voidpf opaque, const char*, int) {
    return new MemoryStream{static_cast<const std::string*>(opaque), 0};
}

uLong ZCALLBACK MemRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* s = static_cast<MemoryStream*>(stream);
    uLong available = static_cast<uLong>(s->data->size()) - s->position;
    uLong n = std::min(size, available);
    std::memcpy(buf, s->data->data() + s->position, n);
    s->position += n;
    return n;
}

uLong ZCALLBACK MemWrite(voidpf, voidpf, const void*, uLong) { return 0; }

long ZCALLBACK MemTell(voidpf, voidpf stream) { return static_cast<long>(static_cast<MemoryStream*>(stream)->position); }

long ZCALLBACK MemSeek(voidpf, voidpf stream, uLong offset, int origin) {
    auto* s = static_cast<MemoryStream*>(stream);
    uLong size = static_cast<uLong>(s->data->size());
    uLong base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
        case ZLIB_FILEFUNC_SEEK_CUR: base = s->position; break;
        case ZLIB_FILEFUNC_SEEK_END: base = size; break;
        default: return -1;
    }
    if (offset > size - std::min(base, size)) return -1;
    s->position = base + offset;
    return 0;
}

int ZCALLBACK MemClose(voidpf, voidpf stream) {
    delete static_cast<MemoryStream*>(stream);
    return 0;
}

int ZCALLBACK MemError(voidpf, voidpf) { return 0; }

unzFile OpenMemoryZip(const std::string& data) {
    zlib_filefunc_def funcs{};
    funcs.zopen_file = MemOpen;
    funcs.zread_file = MemRead;
    funcs.zwrite_file = MemWrite;
    funcs.ztell_file = MemTell;
    funcs.zseek_file = MemSeek;
    funcs.zclose_file = MemClose;
    funcs.zerror_file = MemError;
    funcs.opaque = const_cast<std::string*>(&data);
    return unzOpen2("skin", &funcs);
}

}  // namespace

std::string CResourceZip::NormaliseName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        out.push_back(c);
    }
    size_t start = out.find_first_not_of('/');
    return start == std::string::npos ? std::string() : out.substr(start);
}

bool CResourceZip::Open(const void* data, size_t size) {
    Close();
    if (data == nullptr || size == 0) return false;
    m_data.assign(static_cast<const char*>(data), size);
    unzFile zip = OpenMemoryZip(m_data);
    if (zip == nullptr) {
        m_data.clear();
        return false;
    }
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        char name[1024];
        unz_file_info info{};
        if (unzGetCurrentFileInfo(zip, &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) continue;
        std::string stored(name);
        if (!stored.empty() && (stored.back() == '/' || stored.back() == '\\')) continue;  // folder entry
        m_entries.push_back({NormaliseName(stored), stored});
    }
    unzClose(zip);
    m_open = true;
    return true;
}

void CResourceZip::Close() {
    m_data.clear();
    m_entries.clear();
    m_open = false;
}

const CResourceZip::Entry* CResourceZip::Find(const std::wstring& name) const {
    std::string wanted = NormaliseName(TextCodec::WideToUtf8(name));
    for (const Entry& e : m_entries)
        if (e.normalisedName == wanted) return &e;
    return nullptr;
}

bool CResourceZip::HasEntry(const std::wstring& name) const { return Find(name) != nullptr; }

std::vector<std::string> CResourceZip::EntryNames() const {
    std::vector<std::string> names;
    for (const Entry& e : m_entries) names.push_back(e.normalisedName);
    return names;
}

bool CResourceZip::ReadEntry(const std::wstring& name, std::string& content) const {
    const Entry* entry = Find(name);
    if (entry == nullptr) return false;
    std::string problem;
    return Inflate(entry->storedName, content, problem);
}

bool CResourceZip::Verify(std::string* problem) const {
    if (!m_open) {
        if (problem) *problem = "not a readable archive";
        return false;
    }
    for (const Entry& e : m_entries) {
        std::string content, why;
        if (!Inflate(e.storedName, content, why)) {
            if (problem) *problem = e.storedName + ": " + why;
            return false;
        }
    }
    return true;
}

bool CResourceZip::Inflate(const std::string& storedName, std::string& content, std::string& problem) const {
    unzFile zip = OpenMemoryZip(m_data);
    if (zip == nullptr) {
        problem = "not a readable archive";
        return false;
    }
    bool ok = false;
    unz_file_info info{};
    if (unzLocateFile(zip, storedName.c_str(), 1) != UNZ_OK ||
        unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        problem = "entry not found";
    } else if (info.uncompressed_size > kMaxEntrySize || info.compressed_size > m_data.size()) {
        // The size fields are not to be believed: an allocation of that size would fail or take
        // gigabytes, and no skin entry comes near it.
        problem = "size field out of range (" + std::to_string(info.uncompressed_size) + " bytes, compressed " +
                  std::to_string(info.compressed_size) + ")";
    } else if (unzOpenCurrentFile(zip) != UNZ_OK) {
        problem = "entry cannot be opened";
    } else {
        // Read in pieces: the data decides how much there is, up to the size the entry declares.
        std::string out;
        char buffer[16384];
        bool failed = false;
        for (;;) {
            int read = unzReadCurrentFile(zip, buffer, sizeof(buffer));
            if (read < 0) {
                failed = true;
                break;
            }
            if (read == 0) break;
            out.append(buffer, static_cast<size_t>(read));
            if (out.size() > info.uncompressed_size) {
                failed = true;
                break;
            }
        }
        // unzCloseCurrentFile reports a CRC mismatch once the whole entry was read.
        int closed = unzCloseCurrentFile(zip);
        if (failed || out.size() != info.uncompressed_size) {
            problem = "data cut short or damaged (" + std::to_string(out.size()) + " of " + std::to_string(info.uncompressed_size) +
                      " bytes)";
        } else if (closed != UNZ_OK) {
            problem = "checksum mismatch";
        } else {
            content.swap(out);
            ok = true;
        }
    }
    unzClose(zip);
    return ok;
}

}  // namespace DuiLib
