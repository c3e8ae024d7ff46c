#include "crypto/crypto_error.h"

#include <gtest/gtest.h>

namespace {

TEST(CryptoError, CategoryNameMessagesAndValues) {
    EXPECT_STREQ(crypto_category().name(), "crypto");
    const std::pair<crypto_error, const char*> rows[] = {
        {crypto_error::success, "Success"},
        {crypto_error::initialize_error, "Initialize error"},
        {crypto_error::not_initialized, "Crypto object not initialized"},
        {crypto_error::encryptor_not_created, "Encryptor not created"},
        {crypto_error::encrypt_failure, "Encrypt failure"},
        {crypto_error::decrypt_failure, "Decrypt failure"},
        {crypto_error::import_key_material_error, "Import key material error"},
        {crypto_error::import_public_key_error, "Import public key error"},
        {crypto_error::export_container_error, "Export container error"},
        {crypto_error::export_public_key_error, "Export public key error"},
        {crypto_error::export_key_material_error, "Export key material error"},
        {crypto_error::create_symmetric_error, "Create symmetric algorithm error"},
        {crypto_error::create_encryptor_error, "Create encryptor error"},
        {crypto_error::create_random_error, "Create random algorithm error"},
        {crypto_error::generate_random_error, "Generate random generator error"},
        {crypto_error::set_iv_error, "Set initialize vector error"},
        {crypto_error::set_private_parameter_error, "Set private parameter error"},
        {crypto_error::hash_initialize_error, "Hash algorithm initialize error"},
        {crypto_error::invalid_password, "Invalid password"},
        {crypto_error::empty_iv, "Initialization vector is empty"},
        {crypto_error::key_manager_not_initialized, "Key manager isn't initialized"},
        {crypto_error::factory_not_initialized, "Factory not initialized"},
        {crypto_error::internal_not_initialized, "Internal structure not initialized"},
        {crypto_error::random_check_failed, "Initialize sequence failed random check"},
        {crypto_error::empty_sequence, "Sequence is empty"},
        {crypto_error::invalid_container, "Invalid container structure"},
        {crypto_error::undefined_length, "Undefined encoding length"},
        {crypto_error::internal_error, "Internal error"},
    };
    int expected_value = 0x200;
    for (const auto& [value, text] : rows) {
        std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &crypto_category());
        EXPECT_EQ(ec.message(), text);
        if (value != crypto_error::success) {
            // The values run without gaps from 0x200 to 0x21a.
            EXPECT_EQ(ec.value(), expected_value++);
        }
    }
    EXPECT_EQ(expected_value, 0x21b);
    EXPECT_EQ(crypto_category().message(0x21b), "Unknown error: 539");
    EXPECT_EQ(crypto_category().message(-1), "Unknown error: -1");
    EXPECT_EQ(&make_error_condition(crypto_error::invalid_password).category(), &crypto_category());
}

}  // namespace
