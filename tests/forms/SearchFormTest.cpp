#include "ControllerFixture.h"

#include "forms/FormMain.h"
#include "forms/FormSearch.h"

#include <gtest/gtest.h>

#include <set>

using namespace velloq;

TEST(SearchForm, ALongTextIsCutAtAWordSoItsFirstMatchIsInView)
{
    std::u16string text = u"One two three four five six seven eight nine ten eleven twelve thirteen";
    std::vector<std::pair<size_t, size_t>> marks { { 63, 71 } };
    std::u16string shown = text_around_match(text, marks);
    EXPECT_EQ(shown, u"…eight nine ten eleven twelve thirteen");
    EXPECT_EQ(shown.substr(marks[0].first, marks[0].second - marks[0].first), u"thirteen");

    std::vector<std::pair<size_t, size_t>> early { { 4, 7 } };
    EXPECT_EQ(text_around_match(text, early), text);
    EXPECT_EQ(early[0], (std::pair<size_t, size_t> { 4, 7 }));
    std::vector<std::pair<size_t, size_t>> none;
    EXPECT_EQ(text_around_match(text, none), text);
}

namespace {

class SearchPaging : public test::ControllerFixture {
protected:
    FormMain& main_form() { return *controller->chat_list(); }
};

}

// Matches are read a page at a time; scrolling near the end reads the next page until the last
// match, with none read twice or skipped, and a changed text starts again at the first page.
TEST_F(SearchPaging, PagesFollowTheScrollingToTheLastMatchAndANewTextStartsAgain)
{
    constexpr int matches = 2 * static_cast<int>(FormSearch::page) + 10;
    for (int n = 0; n < matches; ++n)
        deliver("+49151300" + std::to_string(10000 + n), "apple " + std::to_string(n));
    deliver("+4915130099999", "pear");
    start_and_settle();
    application->text_input(u"a");
    application->text_input(u"p");
    settle_search();
    ASSERT_NE(main_form().search_form(), nullptr);
    FormSearch& search = *main_form().search_form();
    ASSERT_EQ(search.results().size(), FormSearch::page);
    EXPECT_EQ(search.list().count(), static_cast<int32_t>(FormSearch::page));
    size_t pages_read = 1;
    while (search.results().size() < static_cast<size_t>(matches)) {
        size_t before = search.results().size();
        search.list().scroll_to(search.list().count() - 1);
        ASSERT_TRUE(pump_until([&] { return search.results().size() > before; })) << "stuck at " << before;
        ++pages_read;
        EXPECT_EQ(search.list().count(), static_cast<int32_t>(search.results().size()));
    }
    EXPECT_EQ(pages_read, 3u);
    std::set<std::u16string> texts;
    for (auto const& result : search.results())
        texts.insert(result.text);
    EXPECT_EQ(texts.size(), static_cast<size_t>(matches));
    EXPECT_FALSE(texts.contains(u"pear"));
    // At the end, frames read nothing more.
    search.list().scroll_to(search.list().count() - 1);
    for (int frame = 0; frame < 3; ++frame)
        application->game().tick();
    EXPECT_EQ(search.results().size(), static_cast<size_t>(matches));
    application->text_input(u"p");
    settle_search();
    EXPECT_EQ(search.edit().text(), u"app");
    EXPECT_EQ(search.results().size(), FormSearch::page);
    EXPECT_EQ(search.list().count(), static_cast<int32_t>(FormSearch::page));
}

// A draft found says it is one, and opening it puts the reply, which holds it, under the caret.
TEST_F(SearchPaging, AFoundDraftSaysSoAndOpensInTheReply)
{
    deliver("+4915130000001", "pineapple pie?");
    start_and_settle();
    ASSERT_TRUE(controller->model()->sms().save_draft({ u"", u"+4915130000001" }, u"pineapple later"));
    ASSERT_TRUE(pump_until([&] { return controller->model()->folder_holds(FolderKind::Drafts, controller->model()->chats().front()->messages.back().id); }));
    application->text_input(u"p");
    application->text_input(u"i");
    settle_search();
    ASSERT_NE(main_form().search_form(), nullptr);
    FormSearch& search = *main_form().search_form();
    ASSERT_EQ(search.results().size(), 2u);
    int32_t draft = search.results()[0].draft ? 0 : 1;
    ASSERT_TRUE(search.results()[static_cast<size_t>(draft)].draft);
    EXPECT_FALSE(search.results()[static_cast<size_t>(1 - draft)].draft);
    auto* body = dynamic_cast<TextElement*>(search.list().item(draft)->find_by_id(u"body"));
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->text(), u"Draft: pineapple later");
    ASSERT_EQ(body->runs().size(), 1u);
    EXPECT_EQ(body->text().substr(body->runs()[0].start, body->runs()[0].length), u"pineapple");
    search.item_activated(search.list(), draft);
    FormChat& chat = main_form().chat_form();
    ASSERT_EQ(stack->top(), &chat);
    EXPECT_EQ(chat.edit().text(), u"pineapple later");
    EXPECT_TRUE(chat.edit().has_input());
    EXPECT_EQ(chat.edit().caret(), chat.edit().text().size());
}
