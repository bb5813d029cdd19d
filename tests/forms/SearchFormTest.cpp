#include "forms/FormSearch.h"

#include <gtest/gtest.h>

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
