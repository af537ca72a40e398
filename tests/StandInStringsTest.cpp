// The stand-in's string cache, on which every handle of the other suites
// rests: equal texts give one handle, each handle reads back its own text.
// Its own program, since ForgetStrings invalidates every handle there is.
#include "support/TestSupport.h"

#include "standin/StandInRuntime.h"

#include <set>

using namespace standin;

namespace {

// Texts around the hash's word and block sizes, one longer than a block of
// the cache's storage, and many short ones so that storage runs over blocks.
std::vector<std::string> Texts(char fill)
{
    std::vector<std::string> texts;
    for (size_t length : {0, 1, 7, 8, 9, 31, 32, 33, 63, 64, 65, 2000, 100000})
        texts.push_back(std::string(length, fill));
    for (int i = 0; i < 5000; ++i)
        texts.push_back(std::string(1, fill) + "line " + std::to_string(i) + std::string(i % 40, 'x'));
    return texts;
}

void ExpectOneHandlePerText(const std::vector<std::string>& texts)
{
    std::set<const char*> handles;
    for (const std::string& text : texts) {
        StringCache::Ref handle = Intern(text);
        ASSERT_EQ(TextOf(handle), text);
        EXPECT_EQ(Intern(text).data, handle.data) << text.substr(0, 40);
        handles.insert(handle.data);
    }
    EXPECT_EQ(handles.size(), texts.size());
}

}  // namespace

TEST(StandInStringsTest, EqualTextsShareAHandleAndForgettingStartsAfresh)
{
    ExpectOneHandlePerText(Texts('a'));
    EXPECT_GE(InternedCount(), 5013u);
    ForgetStrings();
    EXPECT_EQ(InternedCount(), 0u);
    // The storage is reused: the new texts must not mix with the old ones.
    ExpectOneHandlePerText(Texts('b'));
    EXPECT_EQ(InternedCount(), 5013u);
}

// Texts of one length that differ in a single byte, at every position.
TEST(StandInStringsTest, TextsDifferingInOneByteAnywhereAreDistinct)
{
    std::string base(70, 'q');
    std::vector<std::string> texts{base};
    for (size_t i = 0; i < base.size(); ++i) {
        std::string changed = base;
        changed[i] = 'r';
        texts.push_back(changed);
    }
    ExpectOneHandlePerText(texts);
}

TEST(StandInStringsTest, SettingAHandleFromAnyCopyOfATextGivesItsHandle)
{
    const RuntimeRoutines& runtime = Routines();
    StringCache::Ref path = Intern("Data/Linefold/path.txt");
    std::vector<StringCache::Ref> lines;
    for (int i = 0; i < 10; ++i)
        lines.push_back(Intern("line " + std::to_string(i)));

    StringCache::Ref handle{nullptr};
    runtime.handleSet(&handle, path.data);  // its own storage
    EXPECT_EQ(handle.data, path.data);
    std::string copy = "Data/Linefold/path.txt";
    runtime.handleSet(&handle, copy.c_str());
    EXPECT_EQ(handle.data, path.data);
    for (int i = 0; i < 10; ++i) {
        runtime.handleSet(&handle, lines[i].data);
        EXPECT_EQ(handle.data, lines[i].data);
    }
    runtime.handleSet(&handle, nullptr);
    EXPECT_EQ(handle.data, nullptr);

    // After forgetting, an equal text is a new text, whatever the storage
    // it lands in held before.
    ForgetStrings();
    for (int i = 0; i < 10; ++i) {
        std::string text = "other " + std::to_string(i);
        StringCache::Ref made = MakeHandle(text.c_str());
        EXPECT_EQ(TextOf(made), text);
        runtime.handleSet(&handle, text.c_str());
        EXPECT_EQ(handle.data, made.data);
    }
}
