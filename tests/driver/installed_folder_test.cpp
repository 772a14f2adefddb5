// The installed driver folder as SteamVR finds it: the manifest, the library and what it
// exports, the input profile the device names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "driver/controller_driver.h"
#include "sim/host/json_value.h"
#include "tests/support/installed_tree.h"

namespace quenlark {
namespace {

using sim::JsonValue;
using ::testing::UnorderedElementsAre;

std::string Folder() {
    return test::InstalledDriverFolder();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

JsonValue ParseFile(const std::string& path) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(sim::ParseJson(ReadFile(path), value, &error)) << path << ": " << error;
    return value;
}

std::string StringMember(const JsonValue& object, const char* key) {
    const JsonValue* member = object.Find(key);
    return member != nullptr && member->AsString() != nullptr ? *member->AsString() : "(missing)";
}

bool BoolMember(const JsonValue& object, const char* key) {
    const JsonValue* member = object.Find(key);
    return member != nullptr && member->AsBool() != nullptr && *member->AsBool();
}

TEST(InstalledFolder, ManifestNamesTheFolderAndTheLibrary) {
    const JsonValue manifest = ParseFile(Folder() + "/driver.vrdrivermanifest");
    EXPECT_EQ(StringMember(manifest, "name"), "quenlark_k7");
    EXPECT_TRUE(BoolMember(manifest, "alwaysActivate"))
        << "a controller-only driver must be activated without an HMD";
    EXPECT_EQ(Folder().substr(Folder().rfind('/') + 1), "quenlark_k7")
        << "folder name = manifest name";
    EXPECT_TRUE(IsRegularFile(Folder() + "/bin/linux64/driver_quenlark_k7.so"));
}

TEST(InstalledFolder, InputProfileDescribesTheFourInputs) {
    // The device names its profile under the driver's resource root.
    std::string path = kInputProfilePath;
    const std::string root = "{quenlark_k7}";
    ASSERT_EQ(path.rfind(root, 0), 0u);
    path = Folder() + "/resources" + path.substr(root.size());
    ASSERT_TRUE(IsRegularFile(path)) << path;

    const JsonValue profile = ParseFile(path);
    EXPECT_EQ(StringMember(profile, "jsonid"), "input_profile");
    EXPECT_EQ(StringMember(profile, "controller_type"), "aaa_quenlark_k7_controller");
    EXPECT_EQ(StringMember(profile, "device_class"), "TrackedDeviceClass_Controller");

    const JsonValue* sources = profile.Find("input_source");
    ASSERT_TRUE(sources != nullptr && sources->AsObject() != nullptr);
    std::vector<std::string> names;
    for (const auto& [name, value] : *sources->AsObject()) {
        names.push_back(name);
    }
    // Besides the three inputs the profile names the device's raw pose, as SteamVR expects.
    EXPECT_THAT(names, UnorderedElementsAre("/input/fire", "/input/eject_mag", "/input/load_mag", "/pose/raw"));

    const JsonValue* fire = sources->Find("/input/fire");
    ASSERT_NE(fire, nullptr);
    EXPECT_EQ(StringMember(*fire, "type"), "trigger");
    EXPECT_TRUE(BoolMember(*fire, "click")) << "/input/fire/click";
    EXPECT_TRUE(BoolMember(*fire, "value")) << "/input/fire/value";
    for (const char* button : {"/input/eject_mag", "/input/load_mag"}) {
        const JsonValue* source = sources->Find(button);
        ASSERT_NE(source, nullptr) << button;
        EXPECT_EQ(StringMember(*source, "type"), "button") << button;
        EXPECT_TRUE(BoolMember(*source, "click")) << button;
    }
}

// The dynamic symbols a 64-bit ELF object defines for others to link against.
struct DefinedSymbol {
    std::string name;
    unsigned bind;
    unsigned type;
};

std::vector<DefinedSymbol> DefinedDynamicSymbols(const std::string& bytes) {
    std::vector<DefinedSymbol> symbols;
    if (bytes.size() < sizeof(Elf64_Ehdr) || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0 ||
        bytes[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << "not a 64-bit ELF object";
        return symbols;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    auto section = [&](std::size_t i) {
        Elf64_Shdr s{};
        const std::size_t at = header.e_shoff + i * header.e_shentsize;
        if (at + sizeof s <= bytes.size()) {
            std::memcpy(&s, bytes.data() + at, sizeof s);
        }
        return s;
    };
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynsym = section(i);
        if (dynsym.sh_type != SHT_DYNSYM) {
            continue;
        }
        const Elf64_Shdr strtab = section(dynsym.sh_link);
        for (std::size_t k = 1; k < dynsym.sh_size / sizeof(Elf64_Sym); ++k) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.data() + dynsym.sh_offset + k * sizeof sym, sizeof sym);
            if (sym.st_shndx == SHN_UNDEF || sym.st_name >= strtab.sh_size) {
                continue;
            }
            symbols.push_back({std::string(bytes.data() + strtab.sh_offset + sym.st_name),
                               ELF64_ST_BIND(sym.st_info), ELF64_ST_TYPE(sym.st_info)});
        }
    }
    return symbols;
}

TEST(InstalledFolder, LibraryExportsOnlyTheFactory) {
    const std::string bytes = ReadFile(Folder() + "/bin/linux64/driver_quenlark_k7.so");
    ASSERT_FALSE(bytes.empty());
    std::vector<std::string> exported;
    for (const DefinedSymbol& s : DefinedDynamicSymbols(bytes)) {
        if (s.bind == STB_GLOBAL || s.bind == STB_WEAK || s.bind == STB_GNU_UNIQUE) {
            exported.push_back(s.name);
            if (s.name == "HmdDriverFactory") {
                EXPECT_EQ(s.type, STT_FUNC);
                EXPECT_EQ(s.bind, STB_GLOBAL);
            }
        }
    }
    EXPECT_THAT(exported, UnorderedElementsAre("HmdDriverFactory"))
        << "everything else, template instantiations and inline statics included, stays hidden";
}

}  // namespace
}  // namespace quenlark
