#include "forms/FormContacts.h"

#include "forms/Avatar.h"
#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "forms/SharedLine.h"
#include "forms/SkinBinding.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "skin/ButtonElement.h"
#include "skin/ElementRegistry.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

#include <algorithm>
#include <set>

namespace velloq {

namespace {

// The first character of what the entry is listed by (its name, or its number without one).
std::u16string first_character(PhoneEntry const& entry)
{
    std::u16string const& text = entry.name.empty() ? entry.number : entry.name;
    if (text.empty())
        return {};
    size_t length = text.size() > 1 && (text[0] & 0xFC00) == 0xD800 && (text[1] & 0xFC00) == 0xDC00 ? 2 : 1;
    return upper_case(text.substr(0, length));
}

bool looks_like_number(std::u16string const& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) { return (c >= u'0' && c <= u'9') || c == u' ' || c == u'+' || c == u'-'; });
}

// A text in three runs: the match in the filter colour, the rest in the normal one.
std::vector<ColourRun> match_runs(std::optional<size_t> at, size_t length, Colour filtered)
{
    if (!at || length == 0)
        return {};
    return { ColourRun { *at, length, filtered } };
}

}

FormContacts::FormContacts(Application& application, FormStack& stack, Properties& skin, ChatModel& model, FormMain& owner)
    : OwnedForm(application, stack, skin, model, owner)
{
    skin_loaded();
}

FormContacts::~FormContacts()
{
    m_stack.hide(*this, false);
}

void FormContacts::skin_loaded()
{
    build_required(*this, m_skin, section_name);
    m_title = dynamic_cast<TextElement*>(find_by_id(u"title"));
    m_list = &bind_element<VList>(*this, section_name, u"list");
    m_empty = find_by_id(u"empty");
    m_list->set_empty_view(m_empty);
    m_edit = &bind_element<TextEdit>(*this, section_name, u"edit");
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_write = &bind_element<ButtonElement>(*this, section_name, u"btnWrite");
    m_add = &bind_element<ButtonElement>(*this, section_name, u"btnAdd");
    // Skins made before it have none: the back arrow takes the recipients there.
    m_done = dynamic_cast<ButtonElement*>(find_by_id(u"btnDone"));
    if (m_done)
        m_done->on_press = [this] { leave(); };
    m_hint = &bind_element(*this, section_name, u"hint");
    m_ruler = &bind_element(*this, section_name, u"ruler_table");
    // The two letter templates are sections to build letters from, not letters themselves.
    auto form = m_skin.section(section_name);
    auto& first_template = bind_element<ButtonElement>(*this, section_name, u"ruler_button");
    m_ruler_button = find_section_by_id(m_skin, *form, u"ruler_button");
    m_ruler_button2 = find_section_by_id(m_skin, *form, u"ruler_button2");
    if (Element* parent = first_template.parent())
        parent->remove_child(first_template);
    if (auto* second = find_by_id(u"ruler_button2"); second && second->parent())
        second->parent()->remove_child(*second);
    auto ruler_text = m_skin.section(u"AlphabetRulerText");
    m_ruler_colour = ruler_text ? std::optional<Colour>(m_skin.get_colour(*ruler_text, u"color", {})) : std::nullopt;
    auto item = m_skin.section(item_section);
    m_colour = item ? m_skin.get_colour(*item, u"color", {}) : Colour {};
    m_filtered_colour = item ? m_skin.get_colour(*item, u"filtered_color", {}) : Colour {};
    m_close->on_press = [this] { leave(); };
    // Write and Add share a place; the one shown takes the typed entry.
    for (ButtonElement* button : { m_write, m_add })
        button->on_press = [this, button] {
            if (button == m_active)
                add_typed_entry();
        };
    m_list->set_item_source(this);
    m_edit->on_change = [this] { filter_changed(); };
    // Enter on a typed number does what the button beside it does; with an entry chosen in the
    // list, Enter is the list's.
    m_edit->on_enter = [this] {
        if (!m_active || !m_active->is_visible() || m_list->selected() >= 0)
            return false;
        add_typed_entry();
        return true;
    };
    m_edit->set_types_without_tap(true);
    m_letter_buttons.clear();
    m_letters.clear();
    refresh();
}

void FormContacts::prepare(bool multi_recipient)
{
    m_model.phone_book().sort_display_order(m_model.current_chat_key());
    m_multi = multi_recipient;
    m_edit->set_text({});
    m_write->set_visible(false);
    m_add->set_visible(false);
    refresh();
}

void FormContacts::show()
{
    m_stack.hide(*this, false);
    m_stack.show(*this, false, true);
}

// The filter is lower-cased the same way as the names, so "Ben" finds Ben; each character keeps
// its place, so the match lines up with the name as written.
std::u16string FormContacts::filter_text() const
{
    return lower_case(m_edit->text());
}

std::optional<size_t> FormContacts::name_match(std::u16string const& name) const
{
    std::u16string const filter = filter_text();
    std::u16string lower = lower_case(name);
    for (size_t at = lower.find(filter); at != std::u16string::npos; at = lower.find(filter, at + 1)) {
        if (at == 0 || lower[at - 1] == u' ')
            return at;
    }
    return std::nullopt;
}

bool FormContacts::passes_filter(PhoneEntry const& entry) const
{
    std::u16string const filter = filter_text();
    if (filter.empty() || name_match(entry.name))
        return true;
    return lower_case(entry.number).find(filter) != std::u16string::npos;
}

void FormContacts::refresh()
{
    auto const& entries = m_model.phone_book().entries();
    m_shown.clear();
    for (size_t index = 0; index < entries.size(); ++index) {
        if (passes_filter(entries[index]))
            m_shown.push_back(index);
    }
    m_list->reset(static_cast<int32_t>(m_shown.size()));
    if (m_title)
        m_title->set_text(m_skin.language().text_of(m_multi ? u"Recipients" : u"Recipient"));
    m_active = m_multi ? m_add : m_write;
    (m_multi ? m_write : m_add)->set_visible(false);
    // The search field says what it searches until something is typed.
    m_hint->set_visible(m_edit->text().empty());
    rebuild_ruler();
    show_done();
}

// While recipients are being marked, "Done" takes them to the chat; a typed number's "Add" has its
// place meanwhile.
void FormContacts::show_done()
{
    if (m_done)
        m_done->set_visible(m_multi && !(m_active && m_active->is_visible()));
}

void FormContacts::rebuild_ruler()
{
    std::set<std::u16string> distinct;
    for (size_t index : m_shown) {
        std::u16string letter = first_character(m_model.phone_book().entries()[index]);
        if (!letter.empty())
            distinct.insert(letter);
    }
    std::vector<std::u16string> letters(distinct.begin(), distinct.end());
    if (letters == m_letters && m_letter_buttons.size() == letters.size())
        return;
    m_letters = std::move(letters);
    for (ButtonElement* button : m_letter_buttons)
        m_ruler->remove_child(*button);
    m_letter_buttons.clear();
    if (!m_ruler_button)
        return;
    for (size_t index = 0; index < m_letters.size(); ++index) {
        Section const& section = index % 2 == 1 && m_ruler_button2 ? *m_ruler_button2 : *m_ruler_button;
        auto element = ElementRegistry::create(m_skin.get_string(section, u"type", {}));
        auto* button = dynamic_cast<ButtonElement*>(element.get());
        if (!button)
            return;
        button->load(m_skin, section);
        button->set_text(m_letters[index]);
        button->on_press = [this, button] { jump_to_letter(button->caption()); };
        if (m_ruler_colour) {
            for (auto* text : { button->find_by_id(u"#text") })
                if (auto* label = dynamic_cast<TextElement*>(text))
                    label->set_colour(*m_ruler_colour);
        }
        m_letter_buttons.push_back(button);
        m_ruler->add_child(std::move(element));
    }
    m_ruler->invalidate_layout();
}

std::unique_ptr<Element> FormContacts::create_item(VList&, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_shown.size()))
        return nullptr;
    auto item = std::make_unique<Element>();
    build_required(*item, m_skin, item_section);
    fill_contact(*item, m_model.phone_book().entries()[m_shown[static_cast<size_t>(index)]]);
    return item;
}

void FormContacts::fill_item(VList&, Element& item, int32_t index)
{
    if (index >= 0 && index < static_cast<int32_t>(m_shown.size()))
        fill_contact(item, m_model.phone_book().entries()[m_shown[static_cast<size_t>(index)]]);
}

void FormContacts::fill_contact(Element& item, PhoneEntry const& entry)
{
    std::u16string const filter = filter_text();
    auto number_match = [&]() -> std::optional<size_t> {
        size_t at = filter.empty() ? std::u16string::npos : lower_case(entry.number).find(filter);
        return at == std::u16string::npos ? std::nullopt : std::optional<size_t>(at);
    };
    auto* title = dynamic_cast<TextElement*>(item.find_by_id(u"title"));
    auto* number = dynamic_cast<TextElement*>(item.find_by_id(u"number"));
    auto* type = dynamic_cast<TextElement*>(item.find_by_id(u"type"));
    bool by_number = entry.name.empty() || entry.name == entry.number;
    if (title) {
        title->set_text(by_number ? entry.number : entry.name);
        title->set_colour(m_colour);
        title->set_runs(match_runs(by_number ? number_match() : (filter.empty() ? std::nullopt : name_match(entry.name)), filter.size(), m_filtered_colour));
    }
    if (number) {
        bool shown = !by_number && !entry.number.empty();
        number->set_visible(shown);
        number->set_text(shown ? entry.number : std::u16string());
        number->set_colour(m_colour);
        number->set_runs(shown ? match_runs(number_match(), filter.size(), m_filtered_colour) : std::vector<ColourRun> {});
    }
    if (type) {
        type->set_text(entry.label.empty() ? std::u16string() : m_skin.language().text_of(entry.label));
        type->set_visible(!entry.label.empty());
        // The number comes first; its label shrinks or goes on a narrow screen.
        if (number) {
            int32_t width = m_list->size().x > 0 ? m_list->size().x : m_application.client_rect().width;
            share_line(item, *number, *type, width, type->border_max().x, 8 << m_skin.shift());
        }
    }
    auto photo = by_number ? nullptr : m_owner.avatar_photos().avatar_of(m_model, entry.contact_id, photo_side(item));
    show_avatar(item, by_number ? std::u16string() : entry.name, entry.key, std::move(photo));
    bind_element(item, item_section, u"checkbox_place").set_visible(m_multi);
    bool current = m_multi && entry.key == m_model.current_chat_key();
    bind_element(item, item_section, u"active").set_visible(current);
    bind_element(item, item_section, u"checkbox").set_visible(m_multi && !current && entry.mark != 0);
}

void FormContacts::item_activated(VList&, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_shown.size()))
        return;
    PhoneEntry& entry = m_model.phone_book().entries()[m_shown[static_cast<size_t>(index)]];
    if (m_multi) {
        // The chat's own correspondent stays a recipient.
        if (entry.key == m_model.current_chat_key())
            return;
        entry.mark = entry.mark ? 0 : 1;
        m_list->refresh(index);
        return;
    }
    PhoneEntry chosen = entry;
    m_owner.pick(chosen);
    close();
}

void FormContacts::filter_changed()
{
    refresh();
    bool number = looks_like_number(m_edit->text());
    if (number)
        m_active->show_animated(true);
    else
        m_active->set_visible(false);
    // "Nobody found. Type a phone number…" is not said of a number already typed.
    if (m_empty && number)
        m_empty->set_visible(false);
    show_done();
}

void FormContacts::add_typed_entry()
{
    PhoneEntry entry = PhoneEntry::from_typed(m_edit->text());
    if (entry.key.empty())
        return;
    if (!m_multi) {
        m_owner.pick(entry);
        close();
        return;
    }
    std::u16string key = entry.key;
    m_model.phone_book().add(std::move(entry));
    if (PhoneEntry* added = m_model.phone_book().find(key))
        added->mark = 1;
    m_model.phone_book().sort_display_order(m_model.current_chat_key());
    m_edit->set_text({});
    m_active->set_visible(false);
    refresh();
}

void FormContacts::jump_to_letter(std::u16string const& letter)
{
    auto const& entries = m_model.phone_book().entries();
    for (size_t position = 0; position < m_shown.size(); ++position) {
        if (first_character(entries[m_shown[position]]) == letter) {
            m_list->scroll_to(static_cast<int32_t>(position));
            return;
        }
    }
}

void FormContacts::go_back()
{
    leave();
}

void FormContacts::leave(bool animate)
{
    m_model.set_pending_text({});
    if (m_multi)
        m_owner.chat_form().take_recipients();
    close(animate);
}

void FormContacts::close(bool animate)
{
    m_edit->end_input();
    m_stack.hide(*this, animate);
}

}
