#pragma once

#include "messaging/ChatModel.h"
#include "skin/BasicElements.h"
#include "forms/OwnedForm.h"
#include "skin/Menu.h"
#include "skin/Properties.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include <string>
#include <vector>

namespace velloq {

class Application;
class ButtonElement;
class FormMain;
class FormStack;

// Splits a joined template text at "/": two separators side by side give an empty template, and
// a text that ends at a separator ends there.
std::vector<std::u16string> split_templates(std::u16string const& joined);
std::u16string join_escaped_templates(std::vector<std::u16string> const&);
std::vector<std::u16string> split_escaped_templates(std::u16string const& joined);

// Ready-made texts: the user's own (kept in the registry as "Templates", newest first) above the
// language's "DefaultTemplates". A tapped template goes into the chat being written (mode 1) or
// starts a new message after its menu (mode 0).
class FormTemplates final : public OwnedForm, public ItemSource, public MenuSource {
public:
    static constexpr int32_t start_mode = 0;
    static constexpr int32_t insert_mode = 1;

    FormTemplates(Application&, FormStack&, Properties& skin, ChatModel&, FormMain& owner);
    ~FormTemplates() override;

    void skin_loaded();
    void show(int32_t mode);

    std::vector<std::u16string> const& templates() const { return m_templates; }
    int32_t user_count() const { return m_user_count; }
    TextEdit& edit() { return *m_edit; }
    VList& list() { return *m_list; }
    Menu& menu() { return m_menu; }

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;
    // MenuSource.
    void menu_entries(std::u16string const& name, std::u16string& caption, std::vector<MenuEntry>& entries) override;

protected:
    void go_back() override;

private:
    void load_templates();
    void save();
    void add_from_edit();
    void delete_remembered();
    void close();

    Menu m_menu;
    ButtonElement* m_close { nullptr };
    ButtonElement* m_add { nullptr };
    VList* m_list { nullptr };
    TextEdit* m_edit { nullptr };
    std::vector<std::u16string> m_templates;
    int32_t m_user_count { 0 };
    int32_t m_mode { start_mode };
    int32_t m_remembered { -1 };
};

}
