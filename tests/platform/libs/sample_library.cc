// SPDX-License-Identifier: MIT
// A small library for the loader tests, with one export.
extern "C" __attribute__((visibility("default"))) int ryxSampleExport() { return 42; }
