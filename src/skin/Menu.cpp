#include "skin/Menu.h"

#include "skin/ButtonElement.h"
#include "skin/ElementRegistry.h"
#include "skin/Exceptions.h"
#include "skin/FormStack.h"
#include "skin/Properties.h"
#include "skin/TextElement.h"

#include <algorithm>

namespace velloq {

namespace {

char16_t const* const command_buttons[] = { u"About", u"Help", u"Minimize", u"Exit" };

}

// The menu's own form: "Backspace" (which Escape also gives) closes it.
class Menu::MenuForm final : public Form {
public:
    explicit MenuForm(Menu& menu)
        : m_menu(menu)
    {
    }

protected:
    bool on_form_key(KeyEvent const& event) override
    {
        if (m_menu.row_key(event))
            return true;
        if (event.code != Key::Backspace)
            return false;
        if (event.pressed)
            m_menu.close();
        return true;
    }

private:
    Menu& m_menu;
};

Menu::Menu(FormStack& stack, MenuSource& source)
    : m_stack(stack)
    , m_source(source)
{
}

Menu::~Menu()
{
    if (m_form && m_stack.contains(*m_form))
        m_stack.hide(*m_form, false);
}

void Menu::load(Properties const& skin, std::u16string const& menu_section, std::u16string const& default_item_section)
{
    if (m_form && m_stack.contains(*m_form))
        m_stack.hide(*m_form, false);
    m_skin = &skin;
    m_default_item_section = default_item_section;
    auto form = std::make_unique<MenuForm>(*this);
    if (!build_from_section(*form, skin, menu_section))
        throw dravel::NodeNotFoundInSkin { menu_section };
    m_panel = form->find_by_id(u"panel");
    m_list = dynamic_cast<VList*>(form->find_by_id(u"vlist"));
    m_caption = dynamic_cast<TextElement*>(form->find_by_id(u"caption"));
    if (!m_panel)
        throw dravel::NodeNotFound { menu_section, u"panel" };
    if (!m_list)
        throw dravel::NodeNotFound { menu_section, u"vlist" };
    m_form = std::move(form);
    m_entries.clear();
    m_list->set_item_source(this);
}

bool Menu::is_open() const
{
    return m_form && m_stack.contains(*m_form);
}

std::u16string Menu::entry_text(MenuEntry const& entry) const
{
    return entry.text.empty() && m_skin ? m_skin->language().text_of(entry.name) : entry.text;
}

bool Menu::same_names(std::vector<MenuEntry> const& other) const
{
    if (other.size() != m_entries.size())
        return false;
    for (size_t i = 0; i < other.size(); ++i) {
        if (other[i].name != m_entries[i].name)
            return false;
    }
    return true;
}

void Menu::open(std::u16string const& name, std::u16string caption, bool first)
{
    if (!m_form)
        return;
    if (caption.empty() && m_skin)
        caption = m_skin->language().text_of(name);
    std::vector<MenuEntry> answer;
    m_source.menu_entries(name, caption, answer);
    bool same = same_names(answer);
    m_entries = std::move(answer);
    if (m_caption)
        m_caption->set_text(caption);
    if (same) {
        for (int32_t index = 0; index < static_cast<int32_t>(m_entries.size()); ++index)
            m_list->refresh(index);
    } else {
        m_list->reset(static_cast<int32_t>(m_entries.size()));
    }
    if (m_entries.empty()) {
        close();
        return;
    }
    if (first && !is_open()) {
        m_stack.show(*m_form, true, true);
    } else {
        m_form->invalidate_layout();
        m_form->set_horizontal(m_form->position().x, m_form->size().x);
        m_form->set_vertical(m_form->position().y, m_form->size().y);
    }
    m_panel->show_animated(true);
}

void Menu::close()
{
    if (is_open())
        m_stack.hide(*m_form, true);
}

std::unique_ptr<Element> Menu::create_item(VList& list, int32_t index)
{
    MenuEntry const& entry = m_entries[static_cast<size_t>(index)];
    std::u16string section = entry.item_section.empty() ? m_default_item_section : entry.item_section;
    if (!entry.enabled)
        section += u"Disabled";
    auto element = std::make_unique<Element>();
    if (!build_from_section(*element, *m_skin, section))
        throw dravel::NodeNotFoundInSkin { section };
    for (char16_t const* id : command_buttons) {
        // The buttons of a four-button row open the menu of their id.
        if (auto* button = dynamic_cast<ButtonElement*>(element->find_by_id(id)))
            button->on_press = [this, command = std::u16string(id)] { open(command, {}, false); };
    }
    fill_item(list, *element, index);
    return element;
}

void Menu::fill_item(VList&, Element& element, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_entries.size()))
        return;
    MenuEntry const& entry = m_entries[static_cast<size_t>(index)];
    // The entry's own "#text", not the captions of buttons it may hold.
    if (auto* text = dynamic_cast<TextElement*>(element.find_by_id(u"#text"))) {
        bool in_button = false;
        for (Element* up = text->parent(); up && up != &element; up = up->parent())
            in_button |= dynamic_cast<ButtonElement*>(up) != nullptr;
        if (!in_button)
            text->set_text(entry_text(entry));
    }
    if (Element* separator = element.find_by_id(u"separator"))
        separator->set_visible(entry.separator);
    if (Element* checked = element.find_by_id(u"checked"))
        checked->set_visible(entry.checked);
}

void Menu::item_activated(VList&, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_entries.size()))
        return;
    MenuEntry entry = m_entries[static_cast<size_t>(index)];
    if (entry.enabled)
        open(entry.name, entry_text(entry), false);
}

int32_t Menu::command_row(std::vector<Element*>& buttons) const
{
    for (int32_t index = 0; index < static_cast<int32_t>(m_entries.size()); ++index) {
        Element* item = m_list->item(index);
        for (char16_t const* id : command_buttons) {
            Element* button = item ? item->find_by_id(id) : nullptr;
            if (button && button->is_effectively_visible() && button->is_enabled())
                buttons.push_back(button);
        }
        if (!buttons.empty())
            return index;
    }
    return -1;
}

// Up and Down onto the row of command buttons put the focus on its first button, so the row shows
// where the keys are and Enter presses that button; off the row, the list's selection shows it.
bool Menu::row_key(KeyEvent const& event)
{
    if (event.code == Key::Up || event.code == Key::Down)
        return row_walk(event);
    if (event.code != Key::Left && event.code != Key::Right)
        return false;
    std::vector<Element*> buttons;
    int32_t row = command_row(buttons);
    if (row < 0)
        return false;
    if (!event.pressed)
        return true;
    bool right = event.code == Key::Right;
    auto at = std::find(buttons.begin(), buttons.end(), m_form->focused());
    auto last = static_cast<ptrdiff_t>(buttons.size()) - 1;
    ptrdiff_t index = at == buttons.end() ? (right ? 0 : last) : std::clamp(at - buttons.begin() + (right ? 1 : -1), ptrdiff_t { 0 }, last);
    m_list->set_selected(row);
    m_list->scroll_into_view(row);
    m_form->set_focus(buttons[static_cast<size_t>(index)]);
    return true;
}

bool Menu::row_walk(KeyEvent const& event)
{
    std::vector<Element*> buttons;
    int32_t row = command_row(buttons);
    if (row < 0 || !m_list->key(event))
        return false;
    if (event.pressed)
        m_form->set_focus(m_list->selected() == row ? buttons.front() : nullptr);
    return true;
}

}
