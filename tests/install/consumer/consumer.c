/* Creates the control through its C API and prints its server port. */
#include <stdio.h>

#include "control/CorvaneClientCtrl.h"

int main(void) {
  CorvaneClientCtrl *ctrl = corvane_client_ctrl_new();
  gint port = 0;
  g_object_get(ctrl, "server-port", &port, NULL);
  printf("server-port %d\n", port);
  g_object_unref(ctrl);
  return port == 45500 ? 0 : 1;
}
