// Built against the verifier library alone (every object of it linked in): the device side needs
// nothing from the builder or the patch generators.
#include "deltamaker/format/package_layout.h"
#include "deltamaker/format/patch_layout.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/verify/package_verify.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(VerifyAlone, RefusesHostileInputWithoutTheGenerator)
{
    uint8_t pkg[kZHeaderSize] = {};
    std::memcpy(pkg, kPackageMagic, kPackageMagicSize);
    fota_put32(pkg + 8, 0xFFFFFFFFu);
    EXPECT_FALSE(package_verify(pkg, sizeof pkg, PackageInputs()).empty());

    uint8_t patch[kBlockPatchHeaderSize] = {};
    std::memcpy(patch, kPatchMagic, kPatchMagicSize);
    put_sm8(patch + 8, -1);
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(apply_block_patch(nullptr, 0, patch, sizeof patch, 16, out, error));
    EXPECT_NE(std::string::npos, error.find("control length")) << error;

    uint8_t inplace[kInplaceHeaderSize] = {};
    std::memcpy(inplace, kPatchMagic, kPatchMagicSize);
    EXPECT_FALSE(apply_inplace_patch(nullptr, 0, 16, inplace, sizeof inplace, out, error));
    EXPECT_EQ("bad stream lengths in header", error);
}
