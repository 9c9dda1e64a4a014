// SPDX-License-Identifier: MIT
// For tests: the program never closes the extension's pipes, but a test
// process starts a new extension for every case.
#pragma once

// Closes both pipes, so the next call opens them again.
void CloseExtPipesForTesting();
