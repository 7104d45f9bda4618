#include "vmsg/Context.h"
#include "vmsg/vmsg.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class MessageTest : public ::testing::Test
{
protected:
    vmsg::Context context; // keeps the process-wide one out of these tests
    vmsgMsgPort port{context};
};

} // namespace

TEST_F(MessageTest, CheckTemplateMatchesTheRemainingValuesExactly)
{
    port.push(3.5);
    port.push_divider();
    port.push(1);
    port.push_divider();
    EXPECT_TRUE(port.check_template("rviv"));
    EXPECT_FALSE(port.check_template("rvi"));
    EXPECT_FALSE(port.check_template("rvivv"));
    EXPECT_FALSE(port.check_template("ivsvrviv"));
    EXPECT_FALSE(port.check_template("rviq"));
    EXPECT_FALSE(port.check_template(nullptr));

    double t = 0;
    ASSERT_TRUE(port.pop(t, -99999));
    EXPECT_TRUE(port.check_template("viv"));
    EXPECT_FALSE(port.check_template("rviv"));
}

TEST_F(MessageTest, PopsReadTheStatusLayoutsAcrossDividers)
{
    port.push(7);
    port.push_divider();
    port.push("model");
    port.push_divider();
    port.push(3725.9);
    port.push_divider();
    port.push(2);
    port.push_divider();
    ASSERT_TRUE(port.check_template("ivsvrviv"));
    int first = 0;
    char* text = nullptr;
    double t = 0;
    int state = 0;
    ASSERT_TRUE(port.pop(first, -99999));
    ASSERT_TRUE(port.pop(text, -99999, -1));
    ASSERT_TRUE(port.pop(t, -99999));
    ASSERT_TRUE(port.pop(state, -99999));
    EXPECT_EQ(first, 7);
    EXPECT_STREQ(text, "model");
    EXPECT_EQ(t, 3725.9);
    EXPECT_EQ(state, 2);
    EXPECT_TRUE(port.check_template("v"));
    EXPECT_EQ(port.pop(state, -99999), 0); // only a divider is left

    // A failed pop does not swallow the dividers in front of the mismatch.
    vmsgMsgPort other(context);
    other.push_divider();
    other.push("x");
    EXPECT_EQ(other.pop(state, -99999), 0);
    EXPECT_TRUE(other.check_template("vs"));
    EXPECT_TRUE(other.message().popDivider());
    EXPECT_FALSE(other.message().popDivider());
}

TEST_F(MessageTest, CheckTemplateKnowsStringsAndArrays)
{
    port.push("name");
    port.push(std::vector<std::string>{"a", "b"});
    EXPECT_TRUE(port.check_template("sa"));
    EXPECT_FALSE(port.check_template("ss"));
    EXPECT_FALSE(port.check_template("as"));
}

TEST_F(MessageTest, PopOfTheWrongTypeFailsAndStays)
{
    port.push("text");
    port.push(42);

    int i = 5;
    double r = 5;
    int count = 5;
    char** strings = nullptr;
    EXPECT_EQ(port.pop(i, -99999), 0);
    EXPECT_EQ(i, -99999);
    EXPECT_EQ(port.pop(r, -99999), 0);
    EXPECT_EQ(r, -99999.0);
    EXPECT_EQ(port.pop(count, strings, -99999, -1), 0);
    EXPECT_EQ(count, 0);
    ASSERT_NE(strings, nullptr);
    EXPECT_EQ(strings[0], nullptr);

    char* text = nullptr;
    ASSERT_EQ(port.pop(text, -99999, -1), 1);
    EXPECT_STREQ(text, "text");
    ASSERT_EQ(port.pop(i, -99999), 1);
    EXPECT_EQ(i, 42);

    // At the end every pop fails, and the string form still gives a readable text.
    EXPECT_EQ(port.pop(text, -99999, -1), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
}

TEST_F(MessageTest, PoppedTextsStayValidWhileThePortLives)
{
    port.push("first");
    port.push(std::vector<std::string>{"x", "yy", "zzz"});
    port.push(std::string(300, 'L').c_str());
    char* first = nullptr;
    int count = 0;
    char** array = nullptr;
    char* long_ = nullptr;
    ASSERT_TRUE(port.pop(first, -99999, -1));
    ASSERT_TRUE(port.pop(count, array, -99999, -1));
    ASSERT_TRUE(port.pop(long_, -99999, -1));
    port.push(1); // growing the message must not move the texts handed out
    ASSERT_EQ(count, 3);
    EXPECT_STREQ(first, "first");
    EXPECT_STREQ(array[0], "x");
    EXPECT_STREQ(array[2], "zzz");
    EXPECT_EQ(array[3], nullptr);
    EXPECT_EQ(std::strlen(long_), 300u);
}

TEST_F(MessageTest, ManyAndLargeTextsStayValidAndAreGivenAgainAfterAdopt)
{
    vmsg::Message& m = port.message();
    for (int i = 0; i < 600; ++i)
        m.push(("text " + std::to_string(i)).c_str());
    m.push(std::string(20000, 'L'));
    m.push(std::vector<std::string>(1000, "element"));
    std::vector<char*> texts;
    for (int i = 0; i < 601; ++i) {
        char* text = nullptr;
        ASSERT_TRUE(port.pop(text, -99999, -1));
        texts.push_back(text);
    }
    int count = 0;
    char** array = nullptr;
    ASSERT_TRUE(port.pop(count, array, -99999, -1));
    for (int i = 0; i < 600; ++i)
        EXPECT_EQ(texts[std::size_t(i)], "text " + std::to_string(i));
    EXPECT_EQ(std::string(texts[600]), std::string(20000, 'L'));
    ASSERT_EQ(count, 1000);
    EXPECT_STREQ(array[999], "element");
    EXPECT_EQ(array[1000], nullptr);

    // A message taken over afresh hands out its own texts again.
    vmsg::Message next;
    next.push("again");
    next.push(std::vector<std::string>{"p", "q"});
    m.adopt(std::move(next));
    char* again = nullptr;
    ASSERT_TRUE(port.pop(again, -99999, -1));
    ASSERT_TRUE(port.pop(count, array, -99999, -1));
    EXPECT_STREQ(again, "again");
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(array[0], "p");
    EXPECT_STREQ(array[1], "q");
    EXPECT_EQ(array[2], nullptr);
    EXPECT_EQ(port.pop(again, -99999, -1), 0);
    EXPECT_STREQ(again, "");
}
