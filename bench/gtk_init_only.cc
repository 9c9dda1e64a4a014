// SPDX-License-Identifier: MIT
// The yardstick of the second-start benchmark: a GTK program that opens the
// display and ends, the least any start of ryxconfig has to do.
#include <gtk/gtk.h>

int main(int argc, char **argv) {
  gtk_init(&argc, &argv);
  return 0;
}
