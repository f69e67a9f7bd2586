#include "uiresources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initStelvoxUiResource() { Q_INIT_RESOURCE(stelvox_ui); }

void initUiResources() {
  static std::once_flag once;
  std::call_once(once, initStelvoxUiResource);
}
