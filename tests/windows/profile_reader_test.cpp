// The simulated machine reads settings files with its own INI reader. These tests hold
// it to the system's reader: the same text is written to a real file and looked up
// through GetPrivateProfileStringW / GetPrivateProfileIntW and through the reader, and
// the two answers must agree. Each lookup also names the answer the system gives, so
// that a file that is not read at all cannot pass as "both gave the default".
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/settings.h"
#include "sim/machine.h"

namespace {

namespace fs = std::filesystem;

// 300 characters: longer than any buffer the lookups use.
std::string long_value() {
    std::string value;
    for (int i = 0; i < 30; ++i) {
        value += "0123456789";
    }
    return value;
}

// One line per element; written with CRLF and with LF line endings.
std::vector<std::string> settings_lines() {
    return {
        "; settings used by the reader tests",
        "[Main]",
        "Key1=value1",
        "  Key2  =  spaced value  ",
        ";Commented=5",
        "#hash=1",
        "Dup=first",
        "Dup=second",
        "Quoted=\"abc\"",
        "SQuoted='abc'",
        "QuotedSp=\" abc \"",
        "HalfQ=\"abc",
        "InnerBlanks=a  b   c",
        "Trailing=val ; comment",
        "Empty=",
        "Long=" + long_value(),
        "",
        "[ Spaced Section ]",
        "v=in spaced section",
        "",
        "[Numbers]",
        "Empty=",
        "Text=abc",
        "Mixed=12abc",
        "Float=3.9",
        "Plus=+5",
        "Spaced=  42  ",
        "QNum=\"42\"",
        "Neg=-1",
        "Big=4294967297",
        "NegBig=-2147483649",
        "Zero=0",
        "Seven=7",
        "",
        "; a section seen before: its entries are never read",
        "[main]",
        "Late=1",
        "Key1=overridden",
    };
}

std::string join(const std::vector<std::string>& lines, const char* line_end) {
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += line_end;
    }
    return text;
}

// The files hold ASCII only, so widening each byte is their decoded text.
std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

struct settings_file {
    const char* name;
    fs::path path;
    std::wstring text;
    bool written;
};

struct string_lookup {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* default_value;
    std::uint32_t size;
    std::wstring expected;
};

struct int_lookup {
    const wchar_t* section;
    const wchar_t* key;
    std::int32_t default_value;
    std::uint32_t expected;
};

std::vector<string_lookup> string_lookups() {
    const std::wstring long_text = widen(long_value());
    return {
        // Names are matched without regard to case.
        {L"Main", L"Key1", L"<DEF>", 260, L"value1"},
        {L"MAIN", L"KEY1", L"<DEF>", 260, L"value1"},
        {L"main", L"key1", L"<DEF>", 260, L"value1"},
        // Blanks around the name, the '=' and the value are dropped.
        {L"Main", L"Key2", L"<DEF>", 260, L"spaced value"},
        {L"Main", L"key2", L"<DEF>", 260, L"spaced value"},
        // A ';' line is a comment to enumeration, yet its exact name still finds it;
        // '#' means nothing special.
        {L"Main", L";Commented", L"<DEF>", 260, L"5"},
        {L"Main", L"Commented", L"<DEF>", 260, L"<DEF>"},
        {L"Main", L"#hash", L"<DEF>", 260, L"1"},
        {L"Main", L"hash", L"<DEF>", 260, L"<DEF>"},
        // The first of two entries with one name wins.
        {L"Main", L"Dup", L"<DEF>", 260, L"first"},
        // One pair of enclosing quotes is removed, blanks inside them kept; a lone
        // quote stays.
        {L"Main", L"Quoted", L"<DEF>", 260, L"abc"},
        {L"Main", L"SQuoted", L"<DEF>", 260, L"abc"},
        {L"Main", L"QuotedSp", L"<DEF>", 260, L" abc "},
        {L"Main", L"HalfQ", L"<DEF>", 260, L"\"abc"},
        {L"Main", L"InnerBlanks", L"<DEF>", 260, L"a  b   c"},
        // A comment after a value is part of the value.
        {L"Main", L"Trailing", L"<DEF>", 260, L"val ; comment"},
        // An empty value is a value, not a reason for the default.
        {L"Main", L"Empty", L"<DEF>", 260, L""},
        // Only the first section of a name is read.
        {L"Main", L"Late", L"<DEF>", 260, L"<DEF>"},
        {L"main", L"Late", L"<DEF>", 260, L"<DEF>"},
        // Blanks inside the brackets are not part of the section's name.
        {L"Spaced Section", L"v", L"<DEF>", 260, L"in spaced section"},
        {L"spaced section", L"V", L"<DEF>", 260, L"in spaced section"},
        // Missing key, missing section.
        {L"Main", L"Missing", L"<DEF>", 260, L"<DEF>"},
        {L"NoSuchSection", L"Key1", L"<DEF>", 260, L"<DEF>"},
        {L"Main", L"Missing", L"", 260, L""},
        // Blanks at the end of a default are dropped.
        {L"Main", L"Missing", L"dflt  ", 260, L"dflt"},
        // Values and defaults are cut to size - 1 characters.
        {L"Main", L"Long", L"<DEF>", 260, long_text.substr(0, 259)},
        {L"Main", L"Long", L"<DEF>", 4, L"012"},
        {L"Main", L"Long", L"<DEF>", 1, L""},
        {L"Main", L"Key1", L"<DEF>", 4, L"val"},
        {L"Main", L"Key1", L"<DEF>", 1, L""},
        {L"Main", L"Missing", L"<DEFAULT>", 4, L"<DE"},
        {L"Main", L"Missing", L"<DEFAULT>", 1, L""},
    };
}

std::vector<int_lookup> int_lookups() {
    return {
        {L"Numbers", L"Zero", 77, 0},
        {L"Numbers", L"Seven", 77, 7},
        {L"NUMBERS", L"seven", 77, 7},
        // An empty value gives the default, text that is no number gives 0.
        {L"Numbers", L"Empty", 77, 77},
        {L"Numbers", L"Text", 77, 0},
        // Digits are read up to the first character that is not one.
        {L"Numbers", L"Mixed", 77, 12},
        {L"Numbers", L"Float", 77, 3},
        {L"Numbers", L"Plus", 77, 5},
        {L"Numbers", L"Spaced", 77, 42},
        {L"Numbers", L"QNum", 77, 42},
        {L"Numbers", L"Neg", 77, 4294967295u},
        {L"Numbers", L"Big", 77, 1},
        {L"Numbers", L"NegBig", 77, 2147483647},
        {L"Numbers", L"Missing", 77, 77},
        {L"Numbers", L"Missing", -5, 4294967291u},
        {L"NoSuchSection", L"Seven", 77, 77},
        {L"Main", L"Key1", 77, 0},
    };
}

class ProfileReaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::random_device random;
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        directory_ = fs::temp_directory_path() /
                     ("quillmark-profile-" + std::to_string(random()) + "-" + std::to_string(now));
        fs::create_directories(directory_);

        for (const auto& [name, line_end] : {std::pair{"crlf.ini", "\r\n"}, {"lf.ini", "\n"}}) {
            const std::string text = join(settings_lines(), line_end);
            const fs::path path = directory_ / name;
            std::ofstream out(path, std::ios::binary);
            out << text;
            out.close();
            files_.push_back({name, path, widen(text), static_cast<bool>(out)});
        }
    }

    static void TearDownTestSuite() {
        files_.clear();
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    void SetUp() override {
        for (const auto& file : files_) {
            ASSERT_TRUE(file.written) << "cannot write " << file.path.string();
        }
    }

    // Looks `row` up in `path` and in `text`: both must give the same characters, the
    // same count and a terminator, and the system must give `row.expected`.
    static void expect_same_string(const fs::path& path, const std::wstring& text,
                                   const string_lookup& row) {
        // One spare element, filled with a mark, shows a write past the buffer's end.
        std::vector<wchar_t> real(row.size + 1, L'#');
        std::vector<wchar_t> simulated(row.size + 1, L'#');
        const std::uint32_t real_length = platform::get_private_profile_string(
            row.section, row.key, row.default_value, real.data(), row.size, path.c_str());
        const std::uint32_t simulated_length = sim::profile_string(
            text, row.section, row.key, row.default_value, simulated.data(), row.size);

        EXPECT_EQ(real_length, simulated_length);
        ASSERT_LT(real_length, row.size);
        ASSERT_LT(simulated_length, row.size);
        const std::wstring real_value(real.data(), real_length);
        const std::wstring simulated_value(simulated.data(), simulated_length);
        EXPECT_EQ(real_value, simulated_value);
        EXPECT_EQ(real[real_length], L'\0');
        EXPECT_EQ(simulated[simulated_length], L'\0');
        EXPECT_EQ(simulated[row.size], L'#') << "the reader wrote past the buffer";
        EXPECT_EQ(real_value, row.expected);
    }

    static std::wstring describe(const wchar_t* section, const wchar_t* key) {
        return L"[" + std::wstring(section) + L"] " + key;
    }

    inline static fs::path directory_;
    inline static std::vector<settings_file> files_;
};

TEST_F(ProfileReaderTest, StringsMatchTheSystem) {
    for (const auto& file : files_) {
        SCOPED_TRACE(file.name);
        for (const auto& row : string_lookups()) {
            SCOPED_TRACE(::testing::PrintToString(describe(row.section, row.key)) + " default " +
                         ::testing::PrintToString(std::wstring(row.default_value)) + " size " +
                         std::to_string(row.size));
            expect_same_string(file.path, file.text, row);
        }
    }
}

TEST_F(ProfileReaderTest, IntegersMatchTheSystem) {
    for (const auto& file : files_) {
        SCOPED_TRACE(file.name);
        for (const auto& row : int_lookups()) {
            SCOPED_TRACE(::testing::PrintToString(describe(row.section, row.key)) + " default " +
                         std::to_string(row.default_value));
            const std::uint32_t real = platform::get_private_profile_int(
                row.section, row.key, row.default_value, file.path.c_str());
            const std::uint32_t simulated =
                sim::profile_int(file.text, row.section, row.key, row.default_value);
            EXPECT_EQ(real, simulated);
            EXPECT_EQ(real, row.expected);
        }
    }
}

// A file that does not exist reads as one without the entry. The simulated machine
// handles missing files itself; its reader meets them as empty text.
TEST_F(ProfileReaderTest, MissingFileGivesTheDefault) {
    const fs::path missing = directory_ / "missing.ini";
    const std::wstring no_text;

    std::vector<wchar_t> real(260, L'#');
    std::vector<wchar_t> simulated(260, L'#');
    platform::set_last_error(platform::error_success);
    const std::uint32_t real_length = platform::get_private_profile_string(
        L"Main", L"Key1", L"<DEF>", real.data(), 260, missing.c_str());
    EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
    const std::uint32_t simulated_length =
        sim::profile_string(no_text, L"Main", L"Key1", L"<DEF>", simulated.data(), 260);
    EXPECT_EQ(std::wstring(real.data(), real_length), L"<DEF>");
    EXPECT_EQ(std::wstring(simulated.data(), simulated_length), L"<DEF>");

    EXPECT_EQ(platform::get_private_profile_int(L"Main", L"Key1", 77, missing.c_str()), 77u);
    EXPECT_EQ(sim::profile_int(no_text, L"Main", L"Key1", 77), 77u);
}

}  // namespace
