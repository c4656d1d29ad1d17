#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "Categories/Data+Hashes.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Support/TestSupport.h"

namespace {

// Puts the platform's inputs back after each test.
class ZMPlatformTest : public ::testing::Test {
protected:
    void TearDown() override {
        ZMPlatform::setMachineIDPath(std::nullopt);
        ZMPlatform::setOSReleasePath(std::nullopt);
        ZMPlatform::setFirmwareVersion(std::nullopt);
        unsetenv("VOSTRELLE_FIRMWARE_VERSION");
    }
    TestSupport::TempDir dir;
};

TEST_F(ZMPlatformTest, DeviceUDIDIsAStableKeyedDigestOfTheMachineID) {
    const std::regex forty("[0-9a-f]{40}");
    std::string real = ZMPlatform::deviceUDID();
    EXPECT_TRUE(std::regex_match(real, forty)) << real;
    EXPECT_EQ(ZMPlatform::deviceUDID(), real);

    std::string machineID = "3d1219c7c4c5404aaa1f6d2a48adfda4";
    TestSupport::writeFile(dir.file("machine-id"), machineID + "\n");
    ZMPlatform::setMachineIDPath(dir.file("machine-id"));
    std::string udid = ZMPlatform::deviceUDID();
    EXPECT_TRUE(std::regex_match(udid, forty));
    // Neither the machine id nor a plain digest of it that anyone could compute.
    EXPECT_EQ(udid.find(machineID), std::string::npos);
    EXPECT_NE(udid, DataHashes::sha1(machineID));
    EXPECT_NE(udid, DataHashes::sha1(machineID + "\n"));
    // Same machine, same id; another machine, another id.
    ZMPlatform::setMachineIDPath(dir.file("machine-id"));
    EXPECT_EQ(ZMPlatform::deviceUDID(), udid);
    TestSupport::writeFile(dir.file("other"), "00000000000000000000000000000001\n");
    ZMPlatform::setMachineIDPath(dir.file("other"));
    EXPECT_NE(ZMPlatform::deviceUDID(), udid);
}

TEST_F(ZMPlatformTest, WithoutAMachineIDAStoredRandomIDStandsIn) {
    TestSupport::IsolatedEnvironment env;
    ZMPlatform::setMachineIDPath(dir.file("absent"));
    std::string first = ZMPlatform::deviceUDID();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{40}")));
    ZMPlatform::setMachineIDPath(dir.file("absent"));  // drops the remembered value
    EXPECT_EQ(ZMPlatform::deviceUDID(), first);
}

TEST_F(ZMPlatformTest, FirmwareVersionAndPlatformName) {
    TestSupport::writeFile(dir.file("os-release"), "NAME=\"Testix GNU/Linux\"\nVERSION_ID=\"12.5\"\nID=testix\n");
    ZMPlatform::setOSReleasePath(dir.file("os-release"));
    EXPECT_EQ(ZMPlatform::firmwareVersion(), "12.5");
    EXPECT_EQ(ZMPlatform::platformName(), "Testix GNU/Linux");
    ZMPlatform::setFirmwareVersion("14.3");
    EXPECT_EQ(ZMPlatform::firmwareVersion(), "14.3");
    setenv("VOSTRELLE_FIRMWARE_VERSION", "15.0", 1);
    EXPECT_EQ(ZMPlatform::firmwareVersion(), "15.0");
    unsetenv("VOSTRELLE_FIRMWARE_VERSION");
    ZMPlatform::setFirmwareVersion(std::nullopt);

    // Without VERSION_ID (testing releases) the kernel's version number stands in.
    TestSupport::writeFile(dir.file("os-release"), "NAME=Rolling\n");
    EXPECT_TRUE(std::regex_match(ZMPlatform::firmwareVersion(), std::regex("[0-9][0-9.]*")));
    EXPECT_EQ(ZMPlatform::platformName(), "Rolling");
}

// What the featured page names: the distribution as users call it, with its release.
TEST_F(ZMPlatformTest, SystemDescriptionNamesTheDistributionAndItsRelease) {
    struct Case {
        const char *osRelease, *name, *description;
    };
    const Case cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n", "Debian", "Debian 12"},
        {"NAME=\"Fedora Linux\"\nVERSION_ID=40\n", "Fedora", "Fedora 40"},
        {"NAME=\"Linux Mint\"\nVERSION_ID=\"21.3\"\n", "Linux Mint", "Linux Mint 21.3"},
        {"NAME=\"Arch Linux\"\n", "Arch", "Arch"},
        {"NAME=Linux\nVERSION_ID=1\n", "Linux", "Linux 1"},
    };
    for (const auto& c : cases) {
        TestSupport::writeFile(dir.file("os-release"), c.osRelease);
        ZMPlatform::setOSReleasePath(dir.file("os-release"));
        EXPECT_EQ(ZMPlatform::systemName(), c.name) << c.osRelease;
        EXPECT_EQ(ZMPlatform::systemDescription(), c.description) << c.osRelease;
    }
    // A version forced for the servers is not the system's name.
    setenv("VOSTRELLE_FIRMWARE_VERSION", "15.0", 1);
    EXPECT_EQ(ZMPlatform::systemDescription(), "Linux 1");
}

}  // namespace
