#include "forms/FormSearch.h"

#include "forms/FormChat.h"
#include "forms/FormMain.h"
#include "forms/MessageDates.h"
#include "forms/SkinBinding.h"
#include "messaging/DateFormat.h"
#include "search/SearchIndexer.h"
#include "shell/ActiveScheduler.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

namespace velloq {

namespace {

constexpr char16_t const* section_name = u"FormSearch";
constexpr char16_t const* item_section = u"SearchItem";
// A match further into a text than this is brought into view by cutting the text's start.
constexpr size_t shown_before_match = 32;

}

std::u16string text_around_match(std::u16string const& text, std::vector<std::pair<size_t, size_t>>& marks)
{
    if (marks.empty() || marks.front().first <= shown_before_match)
        return text;
    size_t cut = marks.front().first - shown_before_match;
    // From the next word's start, so no word is shown cut.
    size_t space = text.find_first_of(u" \n\t", cut);
    if (space != std::u16string::npos && space < marks.front().first)
        cut = space + 1;
    std::u16string shown = u"…" + text.substr(cut);
    for (auto& mark : marks) {
        mark.first = mark.first < cut ? 1 : mark.first - cut + 1;
        mark.second = mark.second < cut ? 1 : mark.second - cut + 1;
    }
    return shown;
}

FormSearch::FormSearch(Application& application, FormStack& stack, Properties& skin, ChatModel& model, SearchIndexer* indexer, FormMain& owner)
    : OwnedForm(application, stack, skin, model, owner)
    , m_indexer(indexer)
    , m_background(indexer, [] { CActiveScheduler::wake_user_interface(); })
{
    skin_loaded();
}

FormSearch::~FormSearch()
{
    m_stack.hide(*this, false);
}

void FormSearch::skin_loaded()
{
    build_required(*this, m_skin, section_name);
    m_close = &bind_element<ButtonElement>(*this, section_name, u"btnClose");
    m_list = &bind_element<VList>(*this, section_name, u"list");
    m_edit = &bind_element<TextEdit>(*this, section_name, u"edit");
    m_empty = &bind_element<TextElement>(*this, section_name, u"empty");
    auto item = m_skin.section(item_section);
    if (!item)
        throw dravel::NodeNotFoundInSkin { item_section };
    m_match_colour = m_skin.get_colour(*item, u"match_color", { 0x1D, 0x4E, 0xD8, 255 });
    m_close->on_press = [this] { go_back(); };
    m_list->set_item_source(this);
    m_list->set_empty_view(m_empty);
    // Every change searches again; Enter opens the selected (or newest) match.
    m_edit->on_change = [this] { search(); };
    m_edit->on_enter = [this] { return open_selected(); };
    m_edit->set_types_without_tap(true);
    search();
}

void FormSearch::show(std::u16string const& typed)
{
    m_edit->set_text(typed);
    search();
    m_stack.hide(*this, false);
    m_stack.show(*this, false, true);
}

// The search runs on its own thread; the matches shown stay until its answer replaces them.
void FormSearch::search()
{
    m_more = false;
    if (m_edit->text().empty()) {
        // Nothing to look for: no thread need answer that.
        m_background.cancel();
        m_results.clear();
        show_empty_text();
        m_list->reset(0);
        return;
    }
    m_background.request(m_edit->text(), 0, page);
}

void FormSearch::advance(double seconds)
{
    take_answer();
    OwnedForm::advance(seconds);
    int32_t last_built = m_list->first_built() + m_list->built_count() - 1;
    if (m_more && !m_background.busy() && last_built >= m_list->count() - static_cast<int32_t>(page / 4))
        read_more();
}

void FormSearch::read_more()
{
    m_background.request(m_edit->text(), m_results.size(), page);
}

void FormSearch::take_answer()
{
    auto answer = m_background.take_answer();
    if (!answer || answer->typed != m_edit->text())
        return;
    if (answer->index_remade && m_indexer)
        m_indexer->rebuilding_elsewhere();
    name_results_by_chat(m_model, answer->results);
    m_more = answer->results.size() == page;
    if (answer->offset == 0) {
        m_results = std::move(answer->results);
        show_empty_text();
        m_list->reset(static_cast<int32_t>(m_results.size()));
        return;
    }
    for (auto& result : answer->results) {
        m_results.push_back(std::move(result));
        m_list->insert(static_cast<int32_t>(m_results.size()) - 1);
    }
}

// Before anything is typed the empty list says what to do; after, that nothing was found.
void FormSearch::show_empty_text()
{
    std::u16string text = m_skin.language().text_of(m_edit->text().empty() ? u"SearchMessagesHint" : u"NoMessagesFound");
    // While the index is made again, a search may miss messages: the user is told.
    if (m_indexer && m_indexer->rebuilding())
        text = m_skin.language().text_of(u"SearchIndexRebuilding") + u"\n" + text;
    m_empty->set_text(text);
}

std::unique_ptr<Element> FormSearch::create_item(VList& list, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_results.size()))
        return nullptr;
    auto item = std::make_unique<Element>();
    build_required(*item, m_skin, item_section);
    fill_item(list, *item, index);
    return item;
}

void FormSearch::fill_item(VList&, Element& item, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_results.size()))
        return;
    SearchResult const& result = m_results[static_cast<size_t>(index)];
    bind_element<TextElement>(item, item_section, u"title").set_text(result.chat_title);
    bind_element<TextElement>(item, item_section, u"day").set_text(MessageDates(m_skin.language()).in_list(result.time, MessageTime::now()));
    auto marks = result.marks;
    auto& body = bind_element<TextElement>(item, item_section, u"body");
    // A draft says so, as the chat list says it.
    std::u16string prefix = result.draft ? m_skin.language().text_of(u"Draft") + u": " : std::u16string();
    body.set_text(prefix + text_around_match(result.text, marks));
    std::vector<ColourRun> runs;
    for (auto const& [begin, end] : marks)
        runs.push_back({ begin + prefix.size(), end - begin, m_match_colour });
    body.set_runs(std::move(runs));
}

void FormSearch::item_activated(VList&, int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(m_results.size()))
        return;
    m_owner.show_found(m_results[static_cast<size_t>(index)]);
}

bool FormSearch::open_selected()
{
    if (!m_results.empty())
        item_activated(*m_list, std::max(0, m_list->selected()));
    return true;
}

void FormSearch::go_back()
{
    end_input();
    m_stack.hide(*this, true);
}

}
