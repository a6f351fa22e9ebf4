#include <atomic>

#include <gtest/gtest.h>

#include "core/base/cancel.h"
#include "core/update/archive_extract.h"
#include "core/update/code_signature.h"
#include "core/update/engine.h"
#include "core/update/sha256.h"
#include "temp_dir.h"
#include "update_fixtures.h"

using namespace taskbell;
namespace fs = std::filesystem;

// Each long step of an install stops with Cancelled once the flag is set (unset, the updater's installs run through).
TEST(UpdateCancel, HashingUnpackingAndVerifyingStopOnTheFlag)
{
    test::TempDir temp;
    auto key = update::generateSigningKey();
    fs::path bundle = test::makeBundle(temp / "built", "Taskbell.app");
    update::signBundle(bundle, key.privateKeyPem);
    fs::path zip = temp / "work" / "update.zip";
    fs::create_directories(zip.parent_path());
    test::zipFolder(zip, bundle);

    std::atomic<bool> cancelled{true};
    UpdateManifest manifest{"2.0.0", {}, {}, "https://example.invalid/u.zip", sha256HexOfFile(zip), {}, {}};
    EXPECT_THROW(sha256HexOfFile(zip, &cancelled), Cancelled);
    EXPECT_THROW(update::verifyChecksum(zip, manifest, &cancelled), Cancelled);
    EXPECT_THROW(update::unpack(zip, {}, &cancelled), Cancelled);
    EXPECT_THROW(update::verifySignature(bundle, key.publicKey, &cancelled), Cancelled);
    fs::remove_all(temp / "work" / "unpacked");
    EXPECT_THROW(update::verifyDownload(zip, manifest, "1.0.0", key.publicKey, &cancelled), Cancelled);
}
