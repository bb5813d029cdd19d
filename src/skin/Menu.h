#pragma once

#include "skin/BasicElements.h"
#include "skin/Form.h"
#include "skin/VList.h"

#include <string>
#include <vector>

namespace velloq {

class FormStack;
class Properties;
class TextElement;

struct MenuEntry {
    std::u16string name;
    std::u16string text;         // empty: the language text of the name
    std::u16string item_section; // empty: the menu's default item section
    bool enabled { true };
    bool separator { false };
    bool checked { false };
};

// The form that owns a menu answers for the menu names and carries out the commands.
class MenuSource {
public:
    virtual ~MenuSource() = default;
    // The entries of menu `name` (none for a command, which the form carries out here); the
    // caption may be changed.
    virtual void menu_entries(std::u16string const& name, std::u16string& caption, std::vector<MenuEntry>& entries) = 0;
};

// A form's menu: a popup form built from the menu section ("panel", an optional "caption" and a
// "vlist" of entries). Opening a menu by name asks the owning form for its entries; choosing an
// entry opens the menu of the entry's name, which is how commands are delivered.
class Menu final : public ItemSource {
public:
    Menu(FormStack& stack, MenuSource& source);
    ~Menu() override;

    // Builds the menu form from the skin; NodeNotFoundInSkin or NodeNotFound when the section or
    // its "panel" or "vlist" is missing.
    void load(Properties const& skin, std::u16string const& menu_section, std::u16string const& default_item_section);
    void open(std::u16string const& name, std::u16string caption, bool first);
    void close();
    bool is_open() const;
    std::vector<MenuEntry> const& entries() const { return m_entries; }
    Form& form() { return *m_form; }

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;
    // Left and Right reach the row of command buttons and move the keyboard focus along it; Up
    // and Down onto the row focus its first button.
    bool row_key(KeyEvent const&);

private:
    class MenuForm;
    bool row_walk(KeyEvent const&);
    // The entry that holds command buttons and its built buttons, in order; -1 and none when the
    // menu has no such row in view.
    int32_t command_row(std::vector<Element*>& buttons) const;
    bool same_names(std::vector<MenuEntry> const& other) const;
    std::u16string entry_text(MenuEntry const&) const;

    FormStack& m_stack;
    MenuSource& m_source;
    Properties const* m_skin { nullptr };
    std::unique_ptr<Form> m_form;
    Element* m_panel { nullptr };
    TextElement* m_caption { nullptr };
    VList* m_list { nullptr };
    std::u16string m_default_item_section;
    std::vector<MenuEntry> m_entries;
};

}
