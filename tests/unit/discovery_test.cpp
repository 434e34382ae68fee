#include "serial/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Value {
    LONG result;       // what the call returns for this index
    std::string data;  // stored with its NUL when the call succeeds
};

// A registry key scripted value by value. Past the script: ERROR_NO_MORE_ITEMS.
class ScriptedValues : public SerialCommValues {
public:
    explicit ScriptedValues(std::vector<Value> values) : m_values(std::move(values)) {}

    LONG EnumValue(DWORD index, char* name, DWORD* nameSize, BYTE* data, DWORD* dataSize) override {
        ++calls;
        EXPECT_EQ(*nameSize, kValueNameCapacity);
        EXPECT_EQ(*dataSize, kValueDataCapacity);
        if (calls > kRunawayCalls) {
            // A walk that does not stop at the end: fill the table so that it must stop.
            ADD_FAILURE() << "enumeration did not end at ERROR_NO_MORE_ITEMS";
            std::memcpy(data, "COM1", 5);
            *dataSize = 5;
            return ERROR_SUCCESS;
        }
        if (index >= m_values.size()) {
            return ERROR_NO_MORE_ITEMS;
        }
        const Value& v = m_values[index];
        if (v.result == ERROR_SUCCESS) {
            std::strcpy(name, "\\Device\\Serial0");
            *nameSize = 15;
            std::memcpy(data, v.data.c_str(), v.data.size() + 1);
            *dataSize = static_cast<DWORD>(v.data.size() + 1);
        } else {
            // What a failed call leaves behind must never become a port.
            std::memset(data, '7', *dataSize);
        }
        return v.result;
    }

    // The key's last write time at each Stamp call in turn; past the last, Stamp fails.
    bool Stamp(DWORD* values, uint64_t* written) override {
        if (stamped >= stamps.size()) {
            return false;
        }
        *values = static_cast<DWORD>(m_values.size());
        *written = stamps[stamped++];
        return true;
    }

    int calls = 0;
    std::vector<uint64_t> stamps;
    size_t stamped = 0;
    static constexpr int kRunawayCalls = 10000;

private:
    std::vector<Value> m_values;
};

std::vector<BYTE> Discover(ScriptedValues& values, size_t capacity = kPortTableCapacity) {
    std::vector<BYTE> table(kPortTableCapacity + 8, 0xEE);
    size_t count = DiscoverPorts(values, table.data(), capacity);
    for (size_t i = count; i < table.size(); ++i) {
        EXPECT_EQ(table[i], 0xEE) << "written past the ports found, at " << i;
    }
    table.resize(count);
    return table;
}

TEST(Discovery, KeepsRegistryOrder) {
    ScriptedValues values(
        {{ERROR_SUCCESS, "COM3"}, {ERROR_SUCCESS, "COM1"}, {ERROR_SUCCESS, "COM12"}});
    EXPECT_EQ(Discover(values), (std::vector<BYTE>{3, 1, 12}));
}

TEST(Discovery, SkipsOversizedValuesAndGoesOn) {
    ScriptedValues values(
        {{ERROR_SUCCESS, "COM1"}, {ERROR_MORE_DATA, ""}, {ERROR_SUCCESS, "COM3"}});
    EXPECT_EQ(Discover(values), (std::vector<BYTE>{1, 3}));
}

TEST(Discovery, SkipsNumbersNoPortCanHave) {
    ScriptedValues values({{ERROR_SUCCESS, "COM300"},
                           {ERROR_SUCCESS, "COM-1"},
                           {ERROR_SUCCESS, "COM"},
                           {ERROR_SUCCESS, "COM5"}});
    EXPECT_EQ(Discover(values), (std::vector<BYTE>{0, 5}));
}

TEST(Discovery, OtherErrorsEndTheWalk) {
    // An error that persists would otherwise be read as a port at every index, for ever.
    ScriptedValues values(
        {{ERROR_SUCCESS, "COM2"}, {5 /* ERROR_ACCESS_DENIED */, ""}, {ERROR_SUCCESS, "COM4"}});
    EXPECT_EQ(Discover(values), (std::vector<BYTE>{2}));
    EXPECT_EQ(values.calls, 2);
}

TEST(Discovery, ThreeHundredValuesFillTheTableAndNoMore) {
    std::vector<Value> many;
    for (int i = 0; i < 300; ++i) {
        many.push_back({ERROR_SUCCESS, "COM" + std::to_string(i % 200 + 1)});
    }
    ScriptedValues values(many);
    std::vector<BYTE> table = Discover(values);
    ASSERT_EQ(table.size(), kPortTableCapacity);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[254], 55);
}

// brandcli's reading: a failed value is no list, and a walk the key changed under is made again.
TEST(Discovery, AWholeListIsReadAgainWhileTheKeyChangesAndAFailureIsNoList) {
    BYTE table[kPortTableCapacity];
    size_t count = 0;
    ScriptedValues failing({{ERROR_SUCCESS, "COM2"}, {5 /* ERROR_ACCESS_DENIED */, ""}});
    failing.stamps = {1, 1};
    EXPECT_EQ(ReadWholePortList(failing, table, kPortTableCapacity, nullptr, &count),
              PortList::Unreadable);

    ScriptedValues values({{ERROR_SUCCESS, "COM2"}, {ERROR_SUCCESS, "COM4"}});
    values.stamps = {1, 2, 2, 2};  // changed during the first walk, not the second
    EXPECT_EQ(ReadWholePortList(values, table, kPortTableCapacity, nullptr, &count),
              PortList::Read);
    EXPECT_EQ(values.calls, 6);
    EXPECT_EQ(std::vector<BYTE>(table, table + count), (std::vector<BYTE>{2, 4}));

    values.stamps = {1, 2, 3, 4, 5, 6, 7, 8};  // changed during each of the 4 tries
    values.stamped = 0;
    EXPECT_EQ(ReadWholePortList(values, table, kPortTableCapacity, nullptr, &count),
              PortList::KeptChanging);
    EXPECT_EQ(values.stamped, values.stamps.size());
}

TEST(Discovery, EmptyKey) {
    ScriptedValues values({});
    EXPECT_TRUE(Discover(values).empty());
}

}  // namespace
