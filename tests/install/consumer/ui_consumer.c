/* Links the dialog module through Corvane::Ui and creates the control's
 * picture type without a display: only the type system is needed. */
#include <stdio.h>

#include "control/ui/CorvaneClientUi.h"

int main(void) {
  GType type = corvane_client_picture_get_type();
  printf("%s\n", g_type_name(type));
  return type != 0 ? 0 : 1;
}
