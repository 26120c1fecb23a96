#include "zebctl/zebctl_method.h"

#include "tcore/tcore_kvlist.h"
#include "zeb_acx_log.h"
#include "zebctl/zebctl_state.h"

char *TiiMethodField(tcore_list *fields, const char *name) {
    char *v = tcore_kvlist_get(fields, name);
    return v && *v ? v : nullptr;
}

int TiiMethodFail(int code) {
    g_tiiState.lastError = code;
    return code;
}

void TiiMethodLogMark(const char *method, const char *word) {
    zeb_acx_log_info("------------%s %s-------------------\n", method, word);
}
