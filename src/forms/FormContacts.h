#pragma once

#include "messaging/ChatModel.h"
#include "skin/BasicElements.h"
#include "forms/OwnedForm.h"
#include "skin/Properties.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include <optional>
#include <string>
#include <vector>

namespace velloq {

class Application;
class ButtonElement;
class FormMain;
class FormStack;
class TextElement;

// The recipient picker: the phone book filtered by what is typed, an alphabet ruler to jump to a
// letter, one recipient picked (single-recipient mode) or several ticked (multi-recipient mode),
// and a typed number used directly.
class FormContacts final : public OwnedForm, public ItemSource {
public:
    static constexpr char16_t const* section_name = u"FormContacts";
    static constexpr char16_t const* item_section = u"ContactItem";

    FormContacts(Application&, FormStack&, Properties& skin, ChatModel&, FormMain& owner);
    ~FormContacts() override;

    void skin_loaded();
    // Sorts the phone book into display order, sets the mode and starts with an empty filter;
    // the caller then shows the form.
    void prepare(bool multi_recipient);
    void show();
    void refresh();

    bool multi_recipient() const { return m_multi; }
    std::vector<size_t> const& shown() const { return m_shown; }
    std::vector<std::u16string> const& letters() const { return m_letters; }
    TextEdit& edit() { return *m_edit; }
    VList& list() { return *m_list; }
    Element& ruler() { return *m_ruler; }
    ButtonElement& active_button() { return *m_active; }
    // The ruler's letter buttons, in order.
    std::vector<ButtonElement*> const& letter_buttons() const { return m_letter_buttons; }

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;

    // Leaves the picker without picking: the text waiting for a recipient is dropped, and in
    // the recipients mode the ticks go to the chat.
    void leave(bool animate = true);

protected:
    void go_back() override;

private:
    // The filter was typed into: the list follows, and the add button shows for a number.
    void show_done();
    void filter_changed();
    bool passes_filter(PhoneEntry const&) const;
    std::u16string filter_text() const;
    std::optional<size_t> name_match(std::u16string const& name) const;
    void fill_contact(Element& item, PhoneEntry const& entry);
    void rebuild_ruler();
    void add_typed_entry();
    void jump_to_letter(std::u16string const& letter);
    void close(bool animate = true);

    TextElement* m_title { nullptr };
    VList* m_list { nullptr };
    TextEdit* m_edit { nullptr };
    ButtonElement* m_close { nullptr };
    ButtonElement* m_write { nullptr };
    ButtonElement* m_add { nullptr };
    ButtonElement* m_done { nullptr };
    ButtonElement* m_active { nullptr };
    Element* m_empty { nullptr };
    Element* m_hint { nullptr };
    Element* m_ruler { nullptr };
    std::optional<Section> m_ruler_button;
    std::optional<Section> m_ruler_button2;
    std::optional<Colour> m_ruler_colour;
    std::vector<ButtonElement*> m_letter_buttons;
    Colour m_colour;
    Colour m_filtered_colour;
    bool m_multi { true };
    std::vector<size_t> m_shown;
    std::vector<std::u16string> m_letters;
};

}
