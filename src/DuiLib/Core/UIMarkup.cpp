#include "DuiLib/Core/UIMarkup.h"

#include <tinyxml2.h>

#include "DuiLib/Core/UIManager.h"
#include "base/TextCodec.h"

namespace DuiLib {
namespace {

void Convert(const tinyxml2::XMLElement* element, CMarkupNode& node) {
    node.name = TextCodec::Utf8ToWide(element->Name());
    for (const tinyxml2::XMLAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next())
        node.attributes.emplace_back(TextCodec::Utf8ToWide(a->Name()), TextCodec::Utf8ToWide(a->Value()));
    for (const tinyxml2::XMLElement* c = element->FirstChildElement(); c != nullptr; c = c->NextSiblingElement()) {
        node.children.emplace_back();
        Convert(c, node.children.back());
    }
}

}  // namespace

std::wstring CMarkupNode::GetAttributeValue(const std::wstring& attribute) const {
    for (const auto& a : attributes)
        if (a.first == attribute) return a.second;
    return std::wstring();
}

bool CMarkupNode::HasAttribute(const std::wstring& attribute) const {
    for (const auto& a : attributes)
        if (a.first == attribute) return true;
    return false;
}

bool CMarkup::Load(const std::string& xml) {
    m_root.reset();
    m_error.clear();
    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
        m_error = doc.ErrorStr() ? doc.ErrorStr() : "XML parse error";
        return false;
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr) {
        m_error = "XML has no root element";
        return false;
    }
    m_root.reset(new CMarkupNode());
    Convert(root, *m_root);
    return true;
}

bool CMarkup::LoadFromResource(const std::wstring& entryName) {
    std::string xml;
    if (!CPaintManagerUI::GetResourceZip().ReadEntry(entryName, xml)) {
        m_root.reset();
        m_error = "no such entry in the skin archive: " + TextCodec::WideToUtf8(entryName);
        return false;
    }
    return Load(xml);
}

}  // namespace DuiLib
