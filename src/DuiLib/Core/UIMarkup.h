#pragma once
// Markup parser: turns an XML file of the skin archive into a tree of named elements whose
// attributes keep their document order (readers that take "the first attribute" rely on it).
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib {

struct CMarkupNode {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;  // in document order
    std::vector<CMarkupNode> children;

    // Value of the named attribute, or empty.
    std::wstring GetAttributeValue(const std::wstring& attribute) const;
    bool HasAttribute(const std::wstring& attribute) const;
};

class CMarkup {
public:
    // Parses UTF-8 XML text. False when the text is not well-formed XML.
    bool Load(const std::string& xml);
    // Parses an entry of the skin archive (see CPaintManagerUI::SetResourceZip).
    bool LoadFromResource(const std::wstring& entryName);

    bool IsValid() const { return m_root != nullptr; }
    const CMarkupNode* GetRoot() const { return m_root.get(); }
    const std::string& GetLastError() const { return m_error; }

private:
    std::unique_ptr<CMarkupNode> m_root;
    std::string m_error;
};

}  // namespace DuiLib
