// The naming template language: fields, the tag constructs, the functions with their
// rightmost-first evaluation and escapes, and the bounds that keep any template finite.
#include <gtest/gtest.h>

#include "naming/NamingTemplate.h"
#include "naming/NamingTestSupport.h"

namespace {

std::string Expand(const std::string& pattern, const NTag& tags = NTag(), bool valuesForPath = true)
{
    return U8(ExpandNamingTemplate(W(pattern), tags, nullptr, valuesForPath));
}

TEST(NamingTemplate, FieldsAndFunctionsMatchInAnyCase)
{
    const NTag tags = MakeTags({{L"Artist", L"ABBA"}, {L"title", L"Waterloo"}});
    EXPECT_EQ(Expand("[Artist] - [TITLE]", tags), "ABBA - Waterloo");
    EXPECT_EQ(Expand("[upper]x[]"), "X");
    EXPECT_EQ(Expand("[Missing] [artist]", tags), "[Missing] ABBA");
    EXPECT_EQ(Expand("[genre]-", tags), "-");
}

TEST(NamingTemplate, ValuesForPathReplaceSeparatorsButKeepCommasAndBrackets)
{
    const NTag tags = MakeTags({{L"title", L"AC/DC, Live [Remastered]"}, {L"origpath", L"/Users/me/Movies/"}});
    EXPECT_EQ(Expand("[title]", tags), "AC-DC, Live [Remastered]");
    EXPECT_EQ(Expand("[title]", tags, false), "AC/DC, Live [Remastered]");
    EXPECT_EQ(Expand("[origpath]", tags), "/Users/me/Movies/");
    // The comma of the value is no argument separator and the bracket opens no call.
    EXPECT_EQ(Expand("[UPPER][title][]", tags), "AC-DC, LIVE [REMASTERED]");
}

TEST(NamingTemplate, TrackAndDiscNumbers)
{
    const NTag seven = MakeTags({{L"track", L"7/12"}, {L"disc", L"1-2"}});
    EXPECT_EQ(Expand("[track]|[track_unpad]|[track_total]|[track_total_unpad]", seven), "07|7|12|12");
    EXPECT_EQ(Expand("[disc]/[disc_total]", seven), "1/2");
    EXPECT_EQ(Expand("[track]|[track_total]", MakeTags({{L"track", L"7"}})), "07|");
    EXPECT_EQ(Expand("[track_unpad]", MakeTags({{L"track", L"007"}})), "07");
    // Only the first line of a multi-valued element fills a field.
    EXPECT_EQ(Expand("[artist]", MakeTags({{L"artist", L"One\rTwo"}})), "One");
}

TEST(NamingTemplate, InnerCallsRunFirst)
{
    EXPECT_EQ(Expand("[UPPER][LOWER]AbC[][]"), "ABC");
    EXPECT_EQ(Expand("[LOWER][UPPER]AbC[][]"), "abc");
    EXPECT_EQ(Expand("[UPPER]abc"), "[UPPER]abc");
    EXPECT_EQ(Expand("[LOWER]X[] [UPPER]abc"), "[LOWER]X[] [UPPER]abc");
    EXPECT_EQ(Expand("a[]b[NOSUCH]c[]"), "a[]b[NOSUCH]c[]");
}

TEST(NamingTemplate, Conditions)
{
    const NTag abba = MakeTags({{L"artist", L"ABBA"}, {L"genre", L"Pop\rRock"}});
    EXPECT_EQ(Expand("[IF][artist],=,abba,yes,no[]", abba), "yes");
    EXPECT_EQ(Expand("[IF][artist],==,abba,yes,no[]", abba), "no");
    EXPECT_EQ(Expand("[IF]abc,len>,2,long,short[]"), "long");
    EXPECT_EQ(Expand("[IF]abc,len=,3,x,y[]"), "x");
    EXPECT_EQ(Expand("[IF]abc,len<,3,x,y_COMMA_z[]"), "y,z");
    EXPECT_EQ(Expand("[IFEQUALS][genre],rock,is rock[]", abba), "is rock");
    EXPECT_EQ(Expand("[IFEQUALS][tag]genre[],jazz,x[]|[IF!EQUALS]genre,jazz,a_COMMA_b[]", abba), "|a,b");
    EXPECT_EQ(Expand("[IFVALUE][tag]comment[],has,none[]|[IFVALUE]artist,has,none[]", abba), "none|has");
}

TEST(NamingTemplate, CompilationAndMultiDisc)
{
    const NTag comp = MakeTags({{L"compilation", L"yEs"}, {L"disc", L"2/3"}});
    EXPECT_EQ(Expand("[compilation]|[IFCOMP]c[]|[IF!COMP]n[]|[IFMULTI]m[]|[IF!MULTI]s[]", comp), "1|c||m|");
    const NTag single = MakeTags({{L"compilation", L"0"}, {L"disc", L"1/1"}});
    EXPECT_EQ(Expand("[IFCOMP]c[]|[IF!COMP]n[]|[IFMULTI]m[]|[IF!MULTI]s[]", single), "|n||s");
    EXPECT_EQ(Expand("[IF!MULTI]s[]"), "s");
}

TEST(NamingTemplate, TextFunctions)
{
    EXPECT_EQ(Expand("[SETLEN]3,48,0,7[]"), "007");
    EXPECT_EQ(Expand("[SETLEN]3,0,0,7[]"), "7  ");
    EXPECT_EQ(Expand("[SETLEN]2,0,0,abcd[]"), "ab");
    EXPECT_EQ(Expand("[SETLEN]4,0,46,ab[]"), "ab..");
    EXPECT_EQ(Expand("[GROUP]3,Beatles[]"), "a-c");
    EXPECT_EQ(Expand("[GROUP]1,beatles[]"), "b");
    EXPECT_EQ(Expand("[GROUP]3, 99 Luftballons[]"), "0-9");
    EXPECT_EQ(Expand("[GROUP]3,_x[]"), "@");
    EXPECT_EQ(Expand("[GROUP]5,Zappa[]"), "z-z");
    EXPECT_EQ(Expand("[WORD]The Rolling  Stones,2[]"), "The Rolling");
    EXPECT_EQ(Expand("[WORD]One; Two,1[]"), "One");
    EXPECT_EQ(Expand("[WORD]a b,0[]"), "a b");
    EXPECT_EQ(Expand("[SPLIT]-,a-b-c,2[]"), "b");
    EXPECT_EQ(Expand("[SPLIT]-,a-b-c,9[]"), "");
    EXPECT_EQ(Expand("[SPLIT]-,a-b-c,0[]"), "a");
    EXPECT_EQ(Expand("[REPLACE]the,A,The the THE[]"), "A A A");
    EXPECT_EQ(Expand("[RIGHT]3,abcdef[]|[RIGHT]9,ab[]|[GRAB]2,3,abcdef[]|[GRAB]4,0,abcdef[]"), "def|ab|bc|def");
    EXPECT_EQ(Expand("[DEL]2,3,abcdef[]|[DEL]3,0,abcdef[]|[TRIM]  x y  []"), "adef|ab|x y");
    EXPECT_EQ(Expand("[MAXLENGTH]2,abc[]|[MAXLENGTH]9,abc[]"), "ab|abc");
}

TEST(NamingTemplate, EscapedCommasCountAsCharactersWhereTheCallsSaySo)
{
    const NTag tags = MakeTags({{L"title", L"a,b,c"}});
    // MAXLENGTH and SETLEN work on the real characters...
    EXPECT_EQ(Expand("[MAXLENGTH]3,[title][]", tags), "a,b");
    EXPECT_EQ(Expand("[SETLEN]2,0,0,[title][]", tags), "a,");
    // ...RIGHT counts the escaped text: ",c" is "<comma_>c", nine characters.
    EXPECT_EQ(Expand("[RIGHT]9,[title][]", tags), ",c");
}

TEST(NamingTemplate, Folders)
{
    const NTag tags = MakeTags({{L"origpath", L"/Users/me/Movies/"}});
    EXPECT_EQ(Expand("[BACKFOLDER]2[]|[FRONTFOLDER]2[]|[FRONTFOLDER]1[]|[BACKFOLDER]1[]|[FRONTFOLDER]9[]", tags),
              "Movies|Users|||");
    EXPECT_EQ(Expand("[TRIMLASTFOLDER]/a/b/c/[]|[TRIMFIRSTFOLDER]a/b/c[]|[TRIMFIRSTFOLDER]/a/b/c/[]"),
              "/a/b/|b/c|a/b/c");
    EXPECT_EQ(Expand("[TRIMFIRSTFOLDER][TRIMFIRSTFOLDER][origpath][][]", tags), "me/Movies");
}

TEST(NamingTemplate, TagConstructs)
{
    const NTag tags = MakeTags({{L"genre", L"Pop\rRock\rJazz"}, {L"comment", L"c1\rc2"}});
    EXPECT_EQ(Expand("[tags]genre,_COMMA_ []"), "");
    EXPECT_EQ(Expand("[tags]genre,_COMMA_ []", tags), "Pop, Rock, Jazz");
    EXPECT_EQ(Expand("[tags]genre[]", tags), "");
    EXPECT_EQ(Expand("[tag]comment[] / [multitag]comment[]", tags), "c1 / c1; c2");
    EXPECT_EQ(Expand("[tag]comment", tags), "[tag]comment");
}

TEST(NamingTemplate, CallerTagsStayUnchanged)
{
    const NTag tags = MakeTags({{L"title", L"a/b,[c]"}, {L"compilation", L"yes"}});
    Expand("[title][IFCOMP]x[]", tags);
    EXPECT_EQ(U8(tags.GetValue(L"title")), "a/b,[c]");
    EXPECT_EQ(U8(tags.GetValue(L"compilation")), "yes");
}

// ---- Values are text, and every expansion ends bounded ------------------------------------

TEST(NamingTemplate, FolderNamesAreNeverExpandedAgain)
{
    // A folder whose name is itself a template: each [BACKFOLDER] would insert two more.
    const NTag tags = MakeTags({{L"origpath", L"/x/[BACKFOLDER]2[][BACKFOLDER]2[]/"}});
    EXPECT_EQ(Expand("[BACKFOLDER]2[]", tags), "[BACKFOLDER]2[][BACKFOLDER]2[]");
    EXPECT_EQ(Expand("[UPPER][FRONTFOLDER]3[][]", tags), "[BACKFOLDER]2[][BACKFOLDER]2[]");
    EXPECT_EQ(Expand("[origpath]", tags), "/x/[BACKFOLDER]2[][BACKFOLDER]2[]/");
}

TEST(NamingTemplate, TagValuesAreNeverExpandedAgain)
{
    const NTag tags = MakeTags({{L"title", L"[UPPER]x[] [artist],[SPLIT]"}, {L"artist", L"[tag]title[]"}});
    EXPECT_EQ(Expand("[title]", tags), "[UPPER]x[] [artist],[SPLIT]");
    EXPECT_EQ(Expand("[artist]", tags), "[tag]title[]");
    // SPLIT and REPLACE take the escapes off their texts; what they give back is text still.
    const NTag call = MakeTags({{L"title", L"[LOWER]X,Y[]"}});
    EXPECT_EQ(Expand("[SPLIT]-,[title]-z,1[]", call), "[LOWER]X,Y[]");
    EXPECT_EQ(Expand("[UPPER][SPLIT]-,[title],1[][]", call), "[LOWER]X,Y[]");
    EXPECT_EQ(Expand("[REPLACE]y,Z,[title][]", call), "[LOWER]X,Z[]");
    EXPECT_EQ(Expand("[SETLEN]13,0,0,[title][]|[MAXLENGTH]20,[title][]", call), "[LOWER]X,Y[] |[LOWER]X,Y[]");
}

TEST(NamingTemplate, DegenerateArgumentsGiveBoundedResults)
{
    EXPECT_EQ(Expand("[SPLIT],abc,1[]|[SPLIT],abc,2[]"), "abc|");
    EXPECT_EQ(Expand("[REPLACE],x,abc[]"), "abc");
    const std::string padded = Expand("[SETLEN]999999999999,48,0,7[]");
    EXPECT_GE(padded.size(), 1000u);
    EXPECT_LE(padded.size(), 5000u);
    EXPECT_EQ(padded.back(), '7');
    EXPECT_EQ(Expand("[SETLEN]-5,48,0,7[]|[RIGHT]-1,ab[]|[GRAB]-3,-9,ab[]|[GROUP]-2,b[]"), "||ab|b");
}

TEST(NamingTemplate, GrowingTemplatesStayBounded)
{
    // Every REPLACE doubles the text: forty of them would ask for a trillion characters.
    std::string pattern = "a";
    for (int i = 0; i < 40; i++)
        pattern = "[REPLACE]a,aa," + pattern + "[]";
    const std::string doubled = Expand(pattern);
    EXPECT_GT(doubled.size(), 1000u);
    EXPECT_LE(doubled.size(), 40000u);
    EXPECT_EQ(doubled.find_first_not_of('a'), std::string::npos);

    // A separator that joins many values with more template text.
    std::wstring many;
    for (int i = 0; i < 2000; i++)
        many += L"v\r";
    NTag tags;
    tags.AddTag(L"genre", many.c_str());
    const std::string joined = Expand("[tags]genre,[tags]genre[]", tags);
    EXPECT_LE(joined.size(), 40000u);
}

// ---- Companions -------------------------------------------------------------------------------

TEST(NamingTemplate, UsesTags)
{
    EXPECT_TRUE(NamingTemplateUsesTags(W("[origpath]/[Artist]")));
    EXPECT_TRUE(NamingTemplateUsesTags(W("[ifvalue]x,a,b[]")));
    EXPECT_TRUE(NamingTemplateUsesTags(W("[tag]comment[]")));
    EXPECT_FALSE(NamingTemplateUsesTags(W("[origpath]/[origfilename] [date] [encoder] [multitag]x[]")));
    EXPECT_FALSE(NamingTemplateUsesTags(W("[UPPER][origfilename][]")));
}

TEST(NamingTemplate, ColourMarks)
{
    const std::string blue = "_RGB_-RGB-000-000-120", green = "_RGB_-RGB-000-120-000", black = "_RGB_-RGB-000-000-000";
    EXPECT_EQ(U8(ColourMarkNamingTemplate(W("[Extension]"))), blue + "Encoder Extension" + black);
    EXPECT_EQ(U8(ColourMarkNamingTemplate(W("/out/{_._}[origpath]/[track]"))),
              "/out/" + blue + "Source Path" + black + "/" + blue + "TrackNum" + black);
    EXPECT_EQ(U8(ColourMarkNamingTemplate(W("[upper]x[]"))), green + "[UPPER]" + black + "x" + green + "[]" + black);
    EXPECT_EQ(U8(ColourMarkNamingTemplate(W("[DEL]1,2,x"))), "[DEL]1,2,x");
}

TEST(NamingTemplate, OriginFieldsComeFromTheSourceOnly)
{
    NTag tags = MakeTags({{L"subpath", L"../.."}, {L"origpath", L"/elsewhere/"}, {L"title", L"t"}});
    AddNamingOriginFields(tags, W("/Users/me/Movies/clip.final.mov"));
    EXPECT_EQ(U8(tags.GetValue(L"origpath")), "/Users/me/Movies/");
    EXPECT_EQ(U8(tags.GetValue(L"origfilename")), "clip.final");
    EXPECT_EQ(tags.FindTag(L"subpath"), nullptr);
    EXPECT_EQ(U8(tags.GetValue(L"title")), "t");
}

} // namespace
