// The stand-in's string cache, on which every handle of the other suites
// rests: texts equal but for ASCII case give one handle in the first
// spelling, each handle reads back its text, references are counted exactly,
// and an entry goes with its last reference.
#include "support/TestSupport.h"

#include "standin/StandInRuntime.h"

#include <set>

using namespace standin;

namespace {

// Texts around the hash's word and block sizes, a long one, and many short
// ones, so that the index grows and entries leave it in every pattern.
std::vector<std::string> Texts(char fill)
{
    std::vector<std::string> texts;
    for (size_t length : {0, 1, 7, 8, 9, 31, 32, 33, 63, 64, 65, 2000, 100000})
        texts.push_back(std::string(length, fill));
    for (int i = 0; i < 5000; ++i)
        texts.push_back(std::string(1, fill) + "line " + std::to_string(i) + std::string(i % 40, 'x'));
    return texts;
}

// Interns every text twice: one handle per text, its own bytes.
std::vector<StringCache::Ref> InternTwice(const std::vector<std::string>& texts)
{
    std::vector<StringCache::Ref> handles;
    std::set<const char*> distinct;
    for (const std::string& text : texts) {
        StringCache::Ref handle = Intern(text);
        EXPECT_EQ(TextOf(handle), text);
        EXPECT_EQ(Intern(text).data, handle.data) << text.substr(0, 40);
        handles.push_back(handle);
        distinct.insert(handle.data);
    }
    EXPECT_EQ(distinct.size(), texts.size());
    return handles;
}

void ReleaseTwice(const std::vector<StringCache::Ref>& handles)
{
    for (StringCache::Ref handle : handles) {
        Release(handle);
        Release(handle);
    }
}

}  // namespace

TEST(StandInStringsTest, EachReferenceCountsAndAnEntryGoesWithItsLast)
{
    StringCounts empty = Strings();
    std::vector<std::string> texts = Texts('a');
    std::vector<StringCache::Ref> handles = InternTwice(texts);
    EXPECT_EQ(Strings().entries, empty.entries + texts.size());
    EXPECT_EQ(Strings().references, empty.references + 2 * texts.size());
    EXPECT_EQ(ReferencesOf(texts[20]), 2u);

    // Every other entry leaves; the rest are still found where they are.
    std::vector<StringCache::Ref> kept;
    std::vector<std::string> keptTexts;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i % 2) {
            ReleaseTwice({handles[i]});
            EXPECT_EQ(ReferencesOf(texts[i]), 0u);
        } else {
            kept.push_back(handles[i]);
            keptTexts.push_back(texts[i]);
        }
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        StringCache::Ref again = Intern(keptTexts[i]);
        EXPECT_EQ(again.data, kept[i].data) << keptTexts[i].substr(0, 40);
        Release(again);
    }
    ReleaseTwice(kept);
    EXPECT_EQ(Strings(), empty);

    // The memory and slots of the gone texts take new ones, unmixed.
    std::vector<std::string> others = Texts('b');
    ReleaseTwice(InternTwice(others));
    EXPECT_EQ(Strings(), empty);
}

// Texts of one length that differ in a single byte, at every position: one
// entry when the bytes are the two cases of an ASCII letter, two otherwise
// (non-ASCII letters and the ASCII signs 0x20 apart included).
TEST(StandInStringsTest, OnlyTheCaseOfAsciiLettersIsIgnored)
{
    StringCounts empty = Strings();
    std::string base(70, 'q');
    base += "@[\xE4";
    StringCache::Ref first = Intern(base);
    std::vector<StringCache::Ref> handles{first};
    for (size_t i = 0; i < base.size(); ++i) {
        char c = base[i];
        std::string changed = base;
        changed[i] = c == 'q' ? 'Q' : c == '@' ? '`' : c == '[' ? '{' : '\xC4';
        StringCache::Ref handle = Intern(changed);
        handles.push_back(handle);
        if (c == 'q') {
            EXPECT_EQ(handle.data, first.data) << i;
            EXPECT_EQ(TextOf(handle), base);  // the first spelling
        } else {
            EXPECT_NE(handle.data, first.data) << i;
            EXPECT_EQ(TextOf(handle), changed);
        }
        changed[i] = 'r';
        StringCache::Ref other = Intern(changed);
        EXPECT_NE(other.data, first.data) << i;
        Release(other);
    }
    EXPECT_EQ(ReferencesOf(base), 71u);
    EXPECT_EQ(ReferencesOf(std::string(70, 'Q') + "@[\xE4"), 71u);
    for (StringCache::Ref handle : handles)
        Release(handle);
    EXPECT_EQ(Strings(), empty);

    // Gone with its last reference: the next text brings its own spelling.
    StringCache::Ref upper = Intern(std::string(70, 'Q'));
    EXPECT_EQ(TextOf(upper), std::string(70, 'Q'));
    Release(upper);
}

TEST(StandInStringsTest, ConstructionAndSettingTakeAReferenceAndSettingGivesOneBack)
{
    const RuntimeRoutines& runtime = Routines();
    StringCounts empty = Strings();
    StringCache::Ref path = Intern("Data/Linefold/Path.txt");

    StringCache::Ref handle{nullptr};
    runtime.handleSet(&handle, path.data);  // its own storage
    EXPECT_EQ(handle.data, path.data);
    std::string copy = "data/linefold/path.TXT";
    runtime.handleSet(&handle, copy.c_str());
    EXPECT_EQ(handle.data, path.data);
    EXPECT_EQ(ReferencesOf(copy), 2u);
    runtime.handleSet(&handle, handle.data);  // from its own text
    EXPECT_EQ(ReferencesOf(copy), 2u);

    StringCache::Ref made{nullptr};
    runtime.handleConstruct(&made, "line 1");
    runtime.handleSet(&handle, made.data);
    EXPECT_EQ(handle.data, made.data);
    EXPECT_EQ(ReferencesOf(copy), 1u);
    EXPECT_EQ(ReferencesOf("LINE 1"), 2u);
    runtime.handleRelease(&made);
    EXPECT_EQ(made.data, nullptr);
    runtime.handleSet(&handle, nullptr);
    EXPECT_EQ(handle.data, nullptr);
    EXPECT_EQ(ReferencesOf("line 1"), 0u);
    runtime.handleRelease(&handle);  // the empty handle holds none
    Release(path);
    EXPECT_EQ(Strings(), empty);
}

TEST(StandInStringsTest, ReleasingOnceTooOftenAborts)
{
    StringCache::Ref kept = Intern("kept");
    StringCache::Ref twice = Intern("twice");
    Release(twice);
    EXPECT_DEATH(Release(twice), "never held");
    StringCache::Ref copy = kept;
    Release(kept);
    EXPECT_DEATH(Release(copy), "never held");
}
