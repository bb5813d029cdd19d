#pragma once

#include "forms/OwnedForm.h"
#include "search/BackgroundSearch.h"
#include "skin/BasicElements.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include <string>
#include <vector>

namespace velloq {

class ButtonElement;
class FormMain;
class TextElement;

// Searching every message: what is typed is looked up as it is typed, and the matching messages
// are listed newest first, each with its chat's name, its date and the matching words in
// "match_color"; choosing one opens its chat at that message.
class FormSearch final : public OwnedForm, public ItemSource {
public:
    // Matches are read a page at a time: the first page at each change of the text, the next
    // ones as the list nears its end.
    static constexpr size_t page = 40;

    // The background indexer, when the program has one, is waited for and told of a remade index.
    FormSearch(Application&, FormStack&, Properties& skin, ChatModel&, SearchIndexer*, FormMain& owner);
    ~FormSearch() override;

    void skin_loaded();
    void advance(double seconds) override;
    // Shows the form with `typed` in the field (empty: a new search).
    void show(std::u16string const& typed);

    TextEdit& edit() { return *m_edit; }
    VList& list() { return *m_list; }
    std::vector<SearchResult> const& results() const { return m_results; }
    // Whether a search is under way (its answer shows at a later frame).
    bool searching() const { return m_background.busy(); }

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;

protected:
    void go_back() override;

private:
    void search();
    bool open_selected();
    void read_more();
    void take_answer();
    void show_empty_text();

    SearchIndexer* m_indexer;
    // Declared last of what it uses: its thread ends before the rest goes.
    BackgroundSearch m_background;
    std::vector<SearchResult> m_results;
    bool m_more { false };
    ButtonElement* m_close { nullptr };
    VList* m_list { nullptr };
    TextEdit* m_edit { nullptr };
    TextElement* m_empty { nullptr };
    Colour m_match_colour;
};

// The part of a long text to show on one line so that its first match is in view, with the
// marks moved along: the text is cut before a word some characters ahead of the match.
std::u16string text_around_match(std::u16string const& text, std::vector<std::pair<size_t, size_t>>& marks);

}
