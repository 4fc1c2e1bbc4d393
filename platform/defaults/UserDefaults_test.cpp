#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/testsupport/TempHome.h"

namespace {

using platform::Bytes;
using platform::Date;
using platform::DefaultsArray;
using platform::DefaultsChange;
using platform::DefaultsDictionary;
using platform::DefaultsValue;
using platform::UserDefaults;

// The behaviour shared by every store runs against both.
struct MemoryStore {
    std::unique_ptr<UserDefaults> make() { return std::make_unique<platform::InMemoryUserDefaults>(); }
};
struct FileStore {
    testsupport::TempDir dir;
    std::unique_ptr<UserDefaults> make() {
        return std::make_unique<platform::JsonFileUserDefaults>(dir / "defaults.json");
    }
};

template <class Factory>
class UserDefaultsContract : public ::testing::Test {
protected:
    Factory factory;
    std::unique_ptr<UserDefaults> store = factory.make();
};
using Stores = ::testing::Types<MemoryStore, FileStore>;
TYPED_TEST_SUITE(UserDefaultsContract, Stores);

// Every kind of value, once.
DefaultsDictionary oneOfEach() {
    return {
        {"b", true},
        {"i", std::int64_t{42}},
        {"f", 0.5f},
        {"d", 0.25},
        {"s", "text"},
        {"t", Date::fromTimeIntervalSinceReferenceDate(760000000.5)},
        {"x", Bytes{0, 1, 255}},
        {"a", DefaultsArray{"one", 2}},
        {"m", DefaultsDictionary{{"k", false}}},
    };
}

TYPED_TEST(UserDefaultsContract, TypedReadersTellWrongTypeFromAbsent) {
    UserDefaults& d = *this->store;
    for (auto& [key, value] : oneOfEach()) d.set(key, value);

    // The one key each typed reader accepts; every other key is the wrong type.
    struct Reader {
        std::string accepts;
        std::function<int(const std::string&)> state;  // 0 absent, 1 wrong type, 2 value
    };
    auto st = [](auto read) { return static_cast<int>(read.state()); };
    const Reader readers[] = {
        {"b", [&](auto& k) { return st(d.readBool(k)); }},
        {"i", [&](auto& k) { return st(d.readInteger(k)); }},
        {"f", [&](auto& k) { return st(d.readFloat(k)); }},
        {"d", [&](auto& k) { return st(d.readDouble(k)); }},
        {"s", [&](auto& k) { return st(d.readString(k)); }},
        {"t", [&](auto& k) { return st(d.readDate(k)); }},
        {"x", [&](auto& k) { return st(d.readData(k)); }},
        {"a", [&](auto& k) { return st(d.readArray(k)); }},
        {"m", [&](auto& k) { return st(d.readDictionary(k)); }},
    };
    for (const auto& reader : readers) {
        EXPECT_EQ(reader.state("missing"), 0) << reader.accepts;
        for (auto& [key, value] : oneOfEach())
            EXPECT_EQ(reader.state(key), key == reader.accepts ? 2 : 1) << "reader " << reader.accepts << " key " << key;
    }
    EXPECT_EQ(d.readFloat("f").value(), 0.5f);
    EXPECT_EQ(d.readDate("t").value(), Date::fromTimeIntervalSinceReferenceDate(760000000.5));
    EXPECT_EQ(d.readData("x").value(), (Bytes{0, 1, 255}));
    EXPECT_TRUE(d.readBool("missing").valueOr(true));
    EXPECT_FALSE(d.readBool("i").valueOr(false));
}

TYPED_TEST(UserDefaultsContract, RemoveAndRemoveDomain) {
    UserDefaults& d = *this->store;
    d.set("keep", 1);
    d.set("drop", "x");
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"drop", "keep"}));
    d.remove("drop");
    d.remove("never-there");
    EXPECT_FALSE(d.object("drop").has_value());
    EXPECT_EQ(d.keys(), std::vector<std::string>{"keep"});
    d.removeDomain();
    EXPECT_TRUE(d.keys().empty());
    EXPECT_TRUE(d.readInteger("keep").isAbsent());
    d.set("after", true);
    EXPECT_EQ(d.keys(), std::vector<std::string>{"after"});
}

TYPED_TEST(UserDefaultsContract, OwnWritesNotifyUntilTheTokenIsReleased) {
    UserDefaults& d = *this->store;
    std::vector<std::pair<std::vector<std::string>, bool>> seen;
    auto token = d.onChange([&](const DefaultsChange& c) { seen.emplace_back(c.keys, c.external); });

    d.set("a", 1);
    d.set("a", 1);  // the same value again still notifies
    d.remove("a");
    d.remove("a");  // nothing to remove: no change
    d.set("b", 2);
    d.set("c", 3);
    d.removeDomain();
    d.removeDomain();  // already empty
    using Seen = std::vector<std::pair<std::vector<std::string>, bool>>;
    EXPECT_EQ(seen, (Seen{{{"a"}, false}, {{"a"}, false}, {{"a"}, false}, {{"b"}, false}, {{"c"}, false},
                          {{"b", "c"}, false}}));

    token.reset();
    d.set("z", 1);
    EXPECT_EQ(seen.size(), 6u);
}

TYPED_TEST(UserDefaultsContract, HandlersMayWriteAndReleaseOtherHandlers) {
    UserDefaults& d = *this->store;
    platform::Subscription second;
    int secondCalls = 0;
    auto first = d.onChange([&](const DefaultsChange& c) {
        second.reset();  // released before its turn in this round
        if (c.keys == std::vector<std::string>{"trigger"}) d.set("echo", d.integerForKey("trigger") + 1);
    });
    second = d.onChange([&](const DefaultsChange&) { ++secondCalls; });
    d.set("trigger", 41);
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(d.integerForKey("echo"), 42);
}

TYPED_TEST(UserDefaultsContract, TokensOutliveTheStore) {
    auto token = this->store->onChange([](const DefaultsChange&) {});
    this->store.reset();
    token.reset();  // must not touch the destroyed store
    SUCCEED();
}

// The coercing readers follow the conventional rules; they live in the shared base.
TEST(UserDefaultsCoercion, ReadersConvertAsTheConventionsSay) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::string name;
        std::optional<DefaultsValue> stored;
        bool asBool;
        std::int64_t asInteger;
        double asDouble;
        std::optional<std::string> asString;
    };
    const Case cases[] = {
        {"absent", std::nullopt, false, 0, 0, std::nullopt},
        {"true", true, true, 1, 1, "1"},
        {"false", false, false, 0, 0, "0"},
        {"zero", 0, false, 0, 0, "0"},
        {"integer", -7, true, -7, -7, "-7"},
        {"float", 0.5f, true, 0, 0.5, "0.5"},
        {"double truncates", -2.9, true, -2, -2.9, "-2.9"},
        {"huge double clamps", 1e300, true, std::numeric_limits<std::int64_t>::max(), 1e300, "1e+300"},
        {"nan", nan, true, 0, nan, "nan"},
        {"YES", "YES", true, 0, 0, "YES"},
        {"true text", "true", true, 0, 0, "true"},
        {"no", "no", false, 0, 0, "no"},
        {"leading number", "  12.75abc", true, 12, 12.75, "  12.75abc"},
        {"signed zeros then digit", "-0003x", true, -3, -3, "-0003x"},
        {"plus", "+0.5", false, 0, 0.5, "+0.5"},
        {"integer overflow clamps", "99999999999999999999", true, std::numeric_limits<std::int64_t>::max(), 1e20,
         "99999999999999999999"},
        {"date", DefaultsValue(Date::fromTimeIntervalSinceReferenceDate(5)), false, 0, 0, std::nullopt},
        {"data", DefaultsValue(Bytes{1}), false, 0, 0, std::nullopt},
        {"array", DefaultsValue(DefaultsArray{1}), false, 0, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        platform::InMemoryUserDefaults d;
        if (c.stored) d.set("k", *c.stored);
        EXPECT_EQ(d.boolForKey("k"), c.asBool) << c.name;
        EXPECT_EQ(d.integerForKey("k"), c.asInteger) << c.name;
        if (std::isnan(c.asDouble)) {
            EXPECT_TRUE(std::isnan(d.doubleForKey("k"))) << c.name;
            EXPECT_TRUE(std::isnan(d.floatForKey("k"))) << c.name;
        } else {
            EXPECT_EQ(d.doubleForKey("k"), c.asDouble) << c.name;
            EXPECT_EQ(d.floatForKey("k"), static_cast<float>(c.asDouble)) << c.name;
        }
        EXPECT_EQ(d.stringForKey("k"), c.asString) << c.name;
    }
}

TEST(UserDefaultsCoercion, CollectionReaders) {
    platform::InMemoryUserDefaults d;
    d.set("names", DefaultsArray{"a", "b"});
    d.set("mixed", DefaultsArray{"a", 1});
    d.set("blob", Bytes{9, 8});
    d.set("map", DefaultsDictionary{{"n", 1}});
    EXPECT_EQ(d.stringArrayForKey("names"), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(d.stringArrayForKey("mixed").has_value());
    EXPECT_EQ(d.arrayForKey("mixed")->size(), 2u);
    EXPECT_FALSE(d.stringArrayForKey("blob").has_value());
    EXPECT_EQ(d.dataForKey("blob"), (Bytes{9, 8}));
    EXPECT_FALSE(d.dataForKey("names").has_value());
    EXPECT_EQ(d.dictionaryForKey("map")->at("n"), DefaultsValue(1));
    EXPECT_FALSE(d.dictionaryForKey("names").has_value());
}

TEST(InMemoryUserDefaults, SimulatedExternalChangeReportsOnlyDifferingKeys) {
    platform::InMemoryUserDefaults d({{"same", 1}, {"changed", 1}, {"gone", 1}});
    std::vector<DefaultsChange> seen;
    auto token = d.onChange([&](const DefaultsChange& c) { seen.push_back(c); });
    d.simulateExternalChange({{"same", 1}, {"changed", 2.0}, {"new", "x"}});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].external);
    EXPECT_EQ(seen[0].keys, (std::vector<std::string>{"changed", "gone", "new"}));
    EXPECT_EQ(d.readDouble("changed").value(), 2.0);
    d.simulateExternalChange(d.contents());  // no difference, no notification
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(d.writeCount(), 0);
}

TEST(DefaultsValue, KeepsItsTypeAndComparesByTypeAndValue) {
    EXPECT_EQ(DefaultsValue(1).type(), DefaultsValue::Type::integer);
    EXPECT_EQ(DefaultsValue(std::uint8_t{1}).type(), DefaultsValue::Type::integer);
    EXPECT_EQ(DefaultsValue(1.0f).type(), DefaultsValue::Type::float32);
    EXPECT_EQ(DefaultsValue(1.0).type(), DefaultsValue::Type::float64);
    EXPECT_EQ(DefaultsValue("s").type(), DefaultsValue::Type::string);
    EXPECT_EQ(DefaultsValue(true).type(), DefaultsValue::Type::boolean);
    EXPECT_EQ(*DefaultsValue(std::numeric_limits<std::uint64_t>::max()).get<std::int64_t>(),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_FALSE(DefaultsValue(1) == DefaultsValue(1.0));
    EXPECT_FALSE(DefaultsValue(1.0f) == DefaultsValue(1.0));
    EXPECT_FALSE(DefaultsValue(true) == DefaultsValue(1));
    EXPECT_EQ(DefaultsValue(std::nan("")), DefaultsValue(std::nan("")));
    EXPECT_EQ(DefaultsValue(DefaultsArray{1, "a"}), DefaultsValue(DefaultsArray{1, "a"}));
    EXPECT_FALSE(DefaultsValue(DefaultsArray{1, "a"}) == DefaultsValue(DefaultsArray{1, "b"}));
}

}  // namespace
