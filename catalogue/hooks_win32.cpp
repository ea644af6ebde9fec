#include "catalogue/hooks_win32.h"

namespace {

TCatalogueHooks hooks;  // the product leaves them at their defaults

}  // namespace

void SetCatalogueHooks(const TCatalogueHooks& replacement) {
    hooks = replacement;
}

const TCatalogueHooks& CatalogueHooks() {
    return hooks;
}
