#include "forms/FormTemplates.h"

#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "forms/SkinBinding.h"
#include "shell/Application.h"
#include "shell/Registry.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

namespace velloq {

namespace {

constexpr char16_t const* section_name = u"FormTemplates";
constexpr char16_t const* item_section = u"TemplateItem";
constexpr char16_t const* escaped_value = u"TemplateTexts";

}

std::vector<std::u16string> split_templates(std::u16string const& joined)
{
    std::vector<std::u16string> pieces;
    std::u16string rest = joined;
    while (!rest.empty()) {
        size_t separator = rest.find(u'/');
        if (separator == std::u16string::npos) {
            pieces.push_back(rest);
            break;
        }
        pieces.push_back(rest.substr(0, separator));
        rest = rest.substr(separator + 1);
    }
    return pieces;
}

// The user's templates as one registry text that keeps every template whole: each is written
// with "\\" for a backslash and "\/" for a slash, and they are joined with "/".
std::u16string join_escaped_templates(std::vector<std::u16string> const& templates)
{
    std::u16string joined;
    for (size_t index = 0; index < templates.size(); ++index) {
        if (index > 0)
            joined += u'/';
        for (char16_t c : templates[index]) {
            if (c == u'\\' || c == u'/')
                joined += u'\\';
            joined += c;
        }
    }
    return joined;
}

std::vector<std::u16string> split_escaped_templates(std::u16string const& joined)
{
    std::vector<std::u16string> templates;
    if (joined.empty())
        return templates;
    templates.emplace_back();
    for (size_t at = 0; at < joined.size(); ++at) {
        if (joined[at] == u'\\' && at + 1 < joined.size())
            templates.back() += joined[++at];
        else if (joined[at] == u'/')
            templates.emplace_back();
        else
            templates.back() += joined[at];
    }
    return templates;
}

FormTemplates::FormTemplates(Application& application, FormStack& stack, Properties& skin, ChatModel& model, FormMain& owner)
    : OwnedForm(application, stack, skin, model, owner)
    , m_menu(stack, *this)
{
    skin_loaded();
}

FormTemplates::~FormTemplates()
{
    m_menu.close();
    m_stack.hide(*this, false);
}

void FormTemplates::skin_loaded()
{
    build_required(*this, m_skin, section_name);
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_add = &bind_element<ButtonElement>(*this, section_name, u"btnAdd");
    m_list = &bind_element<VList>(*this, section_name, u"list");
    m_list->set_empty_view(find_by_id(u"empty"));
    m_edit = &bind_element<TextEdit>(*this, section_name, u"edit");
    m_close->on_press = [this] { close(); };
    m_add->on_press = [this] { add_from_edit(); };
    m_list->set_item_source(this);
    m_edit->set_types_without_tap(true);
    m_menu.load(m_skin, u"Menu", u"MenuElement");
    load_templates();
    m_list->reset(static_cast<int32_t>(m_templates.size()));
}

void FormTemplates::load_templates()
{
    m_templates.clear();
    std::u16string joined;
    // "TemplateTexts" keeps each template whole; "Templates" is what earlier versions wrote,
    // read as they read it.
    if (reg_get_string(registry_key::program, escaped_value, joined))
        m_templates = split_escaped_templates(joined);
    else if (reg_get_string(registry_key::program, u"Templates", joined))
        m_templates = split_templates(joined);
    m_user_count = static_cast<int32_t>(m_templates.size());
    for (auto& piece : split_templates(m_skin.language().text_of(u"DefaultTemplates")))
        m_templates.push_back(std::move(piece));
}

void FormTemplates::save()
{
    reg_delete_value(registry_key::program, u"Templates");
    if (m_user_count <= 0) {
        reg_delete_value(registry_key::program, escaped_value);
        return;
    }
    std::vector<std::u16string> own(m_templates.begin(), m_templates.begin() + m_user_count);
    reg_set_string(registry_key::program, escaped_value, join_escaped_templates(own));
}

void FormTemplates::show(int32_t mode)
{
    m_mode = mode;
    m_stack.hide(*this, false);
    m_stack.show(*this, false, true);
}

std::unique_ptr<Element> FormTemplates::create_item(VList& list, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_templates.size()))
        return nullptr;
    auto item = std::make_unique<Element>();
    build_required(*item, m_skin, item_section);
    fill_item(list, *item, index);
    return item;
}

void FormTemplates::fill_item(VList&, Element& item, int32_t index)
{
    if (index >= 0 && index < static_cast<int32_t>(m_templates.size()))
        bind_element<TextElement>(item, item_section, u"text").set_text(m_templates[static_cast<size_t>(index)]);
}

void FormTemplates::item_activated(VList&, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_templates.size()))
        return;
    if (m_mode == insert_mode) {
        m_model.set_pending_text(m_templates[static_cast<size_t>(index)]);
        m_owner.chat_form().take_pending_text();
        close();
        return;
    }
    m_remembered = index;
    m_menu.open(u"Templates", m_skin.language().text_of(u"Templates"), true);
}

void FormTemplates::menu_entries(std::u16string const& name, std::u16string&, std::vector<MenuEntry>& entries)
{
    if (name == u"Templates") {
        if (m_remembered >= 0 && m_remembered < m_user_count)
            entries.push_back({ u"Delete", {} });
        entries.push_back({ u"Send", {} });
        entries.push_back({ u"Cancel", {} });
    } else if (name == u"Delete") {
        delete_remembered();
    } else if (name == u"Send" && m_remembered >= 0 && m_remembered < static_cast<int32_t>(m_templates.size())) {
        m_model.set_pending_text(m_templates[static_cast<size_t>(m_remembered)]);
        m_owner.open_contacts(false);
        close();
    }
}

void FormTemplates::delete_remembered()
{
    if (m_remembered < 0 || m_remembered >= m_user_count)
        return;
    m_templates.erase(m_templates.begin() + m_remembered);
    m_list->remove(m_remembered);
    --m_user_count;
    m_remembered = -1;
    save();
}

void FormTemplates::add_from_edit()
{
    std::u16string text = m_edit->text();
    if (!text.empty()) {
        m_templates.insert(m_templates.begin(), text);
        m_list->reset(static_cast<int32_t>(m_templates.size()));
        ++m_user_count;
        save();
    }
    m_edit->set_text({});
    m_edit->end_input();
}

void FormTemplates::go_back()
{
    close();
}

void FormTemplates::close()
{
    m_edit->end_input();
    m_stack.hide(*this, true);
}

}
