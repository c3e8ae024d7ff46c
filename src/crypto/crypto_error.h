#pragma once

#include <system_error>

// Errors of the cryptographic wrappers, category "crypto". The provider reports by
// exceptions; every wrapper turns them into one of these values at its boundary.
enum class crypto_error {
    success = 0,
    initialize_error = 0x200,
    not_initialized = 0x201,
    encryptor_not_created = 0x202,
    encrypt_failure = 0x203,
    decrypt_failure = 0x204,
    import_key_material_error = 0x205,
    import_public_key_error = 0x206,
    export_container_error = 0x207,
    export_public_key_error = 0x208,
    export_key_material_error = 0x209,
    create_symmetric_error = 0x20a,
    create_encryptor_error = 0x20b,
    create_random_error = 0x20c,
    generate_random_error = 0x20d,
    set_iv_error = 0x20e,
    set_private_parameter_error = 0x20f,
    hash_initialize_error = 0x210,
    invalid_password = 0x211,
    empty_iv = 0x212,
    key_manager_not_initialized = 0x213,
    factory_not_initialized = 0x214,
    internal_not_initialized = 0x215,
    random_check_failed = 0x216,
    empty_sequence = 0x217,
    invalid_container = 0x218,
    undefined_length = 0x219,
    internal_error = 0x21a,
};

// The one "crypto" category instance.
const std::error_category& crypto_category() noexcept;

std::error_code make_error_code(crypto_error e) noexcept;
std::error_condition make_error_condition(crypto_error e) noexcept;

template <>
struct std::is_error_code_enum<crypto_error> : std::true_type {};
