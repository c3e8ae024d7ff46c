#pragma once

// Marks the classes and functions that libztcrypto.so exports; everything else in the
// library stays hidden so that its OpenSSL internals never become part of its interface.
#define ZTCRYPTO_API __attribute__((visibility("default")))
