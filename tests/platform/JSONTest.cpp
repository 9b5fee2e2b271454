// The bridge between Qt property lists and XJSON files.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>
#include <QUrl>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/TestFiles.h"
#include "platform/JSON.h"
#include "xclass/XJSON.h"

namespace {

class JSONBridgeTest : public TempFolderTest {
protected:
    QUrl Url(const std::string& name) const { return QUrl::fromLocalFile(QString::fromStdString(dir + "/" + name)); }

    std::string Contents(const std::string& name) const
    {
        std::string data;
        const int fd = open((dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return "<missing>";
        char chunk[65536];
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0)
            data.append(chunk, static_cast<size_t>(n));
        close(fd);
        return data;
    }

    void Put(const std::string& name, const std::string& data) const
    {
        const int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        close(fd);
    }

    int FileCount() const
    {
        int n = 0;
        DIR* d = opendir(dir.c_str());
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
        return n;
    }
};

} // namespace

TEST_F(JSONBridgeTest, RoundTripOfAProfile)
{
    QVariantMap inner;
    inner["name"] = QString::fromUtf8("D\xc3\xa9j\xc3\xa0 \"vu\" \\ \xf0\x9f\x8e\xac");
    inner["count"] = 3;
    inner["ratio"] = 0.25;
    inner["big"] = QVariant(static_cast<qlonglong>((int64_t{1} << 60) + 1));
    inner["none"] = QVariant::fromValue(nullptr);
    QVariantMap profile;
    profile["files"] = QStringList{"/a b/c.mkv", "x"};
    profile["mixed"] = QVariantList{1, QString("two"), QVariantList{}, QVariantMap{}};
    profile["settings"] = inner;

    ASSERT_TRUE(JSON::writeAtomically(profile, Url("p.json")));
    EXPECT_EQ(FileCount(), 1); // no temporary left behind
    const QVariant back = JSON::read(Url("p.json"));
    ASSERT_TRUE(back.isValid());
    const QVariantMap map = back.toMap();
    EXPECT_EQ(map["files"].toStringList(), (QStringList{"/a b/c.mkv", "x"}));
    const QVariantMap settings = map["settings"].toMap();
    EXPECT_EQ(settings["name"].toString(), inner["name"].toString());
    EXPECT_EQ(settings["count"].toDouble(), 3.0);
    EXPECT_EQ(settings["ratio"].toDouble(), 0.25);
    EXPECT_EQ(settings["big"].toLongLong(), (int64_t{1} << 60) + 1);
    EXPECT_EQ(settings["none"].typeId(), QMetaType::Nullptr);
    EXPECT_EQ(map["mixed"].toList().size(), 4);

    // Keys are written in the map's own order.
    const std::string text = Contents("p.json");
    EXPECT_LT(text.find("\"files\""), text.find("\"mixed\""));
    EXPECT_LT(text.find("\"mixed\""), text.find("\"settings\""));
    EXPECT_EQ(text.substr(0, 6), "{\n    ");
}

TEST_F(JSONBridgeTest, BooleansBecomeNumbersAndUnknownTypesNull)
{
    QVariantMap m;
    m["flag"] = true;
    m["off"] = false;
    m["when"] = QDateTime::currentDateTime();
    m["bytes"] = QByteArray("raw");
    ASSERT_TRUE(JSON::write(m, Url("b.json")));
    EXPECT_EQ(Contents("b.json"), "{\n    \"bytes\":null,\n    \"flag\":1,\n    \"off\":0,\n    \"when\":null\n}");
    const QVariantMap back = JSON::read(Url("b.json")).toMap();
    EXPECT_EQ(back["flag"].typeId(), QMetaType::Double);
    EXPECT_EQ(back["flag"].toDouble(), 1.0);

    std::unique_ptr<XJSON::AnyType> nothing(JSON::toXJSON(QVariant()));
    ASSERT_TRUE(nothing);
    EXPECT_EQ(nothing->TypeOf(), XJSON::typeNull);
    EXPECT_FALSE(JSON::fromXJSON(nullptr).isValid());

    QVariantHash hash;
    hash["k"] = QString("v");
    std::unique_ptr<XJSON::AnyType> fromHash(JSON::toXJSON(hash));
    EXPECT_TRUE(fromHash->AsObject()->Get(L"k")->AsString()->Value == L"v");
}

TEST_F(JSONBridgeTest, ReadLimitsAndFailures)
{
    // Exactly 16 MiB: one JSON string filling the file.
    std::string big(JSON::MaxReadSize, 'a');
    big.front() = '"';
    big.back() = '"';
    Put("big.json", big);
    const QVariant v = JSON::read(Url("big.json"));
    ASSERT_TRUE(v.isValid());
    EXPECT_EQ(v.toString().size(), static_cast<qsizetype>(JSON::MaxReadSize - 2));
    big.insert(1, "a");
    Put("big.json", big);
    EXPECT_FALSE(JSON::read(Url("big.json")).isValid());

    Put("dup.json", "{\"a\": 1, \"a\": 2}");
    EXPECT_EQ(JSON::read(Url("dup.json")).toMap()["a"].toDouble(), 2.0);

    Put("bad.json", "{\"a\": ");
    EXPECT_FALSE(JSON::read(Url("bad.json")).isValid());
    EXPECT_FALSE(JSON::read(Url("missing.json")).isValid());
    EXPECT_FALSE(JSON::read(QUrl("https://example.invalid/x.json")).isValid());

    EXPECT_FALSE(JSON::write(QVariantMap{}, Url("no/such/folder/x.json")));
    EXPECT_FALSE(JSON::writeAtomically(QVariantMap{}, Url("no/such/folder/x.json")));

    // An atomic write over an existing file replaces it whole.
    Put("p.json", "old");
    ASSERT_TRUE(JSON::writeAtomically(QVariantList{1, 2}, Url("p.json")));
    EXPECT_EQ(Contents("p.json"), "[1, 2]");
}
