#pragma once
// The skin archive: a ZIP archive held in memory that is the source of every layout,
// language file and image of the UI. Entry names match with either slash and without
// regard to case, so "configure\configure.xml" finds "configure/configure.xml".
#include <string>
#include <vector>

namespace DuiLib {

class CResourceZip {
public:
    // Takes a copy of the archive bytes. False (and an empty archive) when the bytes are
    // not a readable ZIP archive.
    bool Open(const void* data, size_t size);
    void Close();
    bool IsOpen() const { return m_open; }

    // Reads one entry into `content`. False when there is no such entry or it cannot be inflated
    // (a damaged entry: a size field out of reason, data cut short, a wrong checksum).
    bool ReadEntry(const std::wstring& name, std::string& content) const;
    // Reads every entry; false with what is wrong (entry and reason) when one cannot be read.
    bool Verify(std::string* problem = nullptr) const;
    // No entry of a skin comes near this; a size field above it marks a damaged archive.
    static constexpr unsigned long kMaxEntrySize = 64ul << 20;
    bool HasEntry(const std::wstring& name) const;
    // Normalised names of all entries (forward slashes, lower case).
    std::vector<std::string> EntryNames() const;

    static std::string NormaliseName(const std::string& name);

private:
    struct Entry {
        std::string normalisedName;
        std::string storedName;
    };
    const Entry* Find(const std::wstring& name) const;
    // Inflates the stored entry; the reason of a failure in `problem`.
    bool Inflate(const std::string& storedName, std::string& content, std::string& problem) const;

    std::string m_data;
    std::vector<Entry> m_entries;
    bool m_open = false;
};

}  // namespace DuiLib
