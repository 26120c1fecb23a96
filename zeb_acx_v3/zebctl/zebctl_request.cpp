#include "zebctl/zebctl_request.h"

#include "tcore/tcore_datanode.h"
#include "tcore/tcore_kvlist.h"
#include "tcore/tcore_list.h"
#include "zebctl/zebctl_errors.h"

#include <cstring>
#include <string>
#include <string_view>

int ParseReqContent_Ex(tcore_datanode *recvNode, tcore_list *fields) {
    if (!recvNode || !fields) return TII_ERR_ARG;
    if (tcore_datanode_startsWith(recvNode, "POST", 4) != 1) return TII_ERR_NOT_POST;
    int headEnd = tcore_datanode_findString(recvNode, 0, "\r\n\r\n");
    if (headEnd <= 0) return TII_ERR_NO_HEADER_END;

    // One flat copy of the body: the scan below is then linear.
    int len = tcore_datanode_length(recvNode);
    int bodyStart = headEnd + 4;
    std::string body;
    if (bodyStart < len) {
        body.resize(static_cast<size_t>(len - bodyStart));
        if (tcore_datanode_getSubData(recvNode, bodyStart, body.data(), len - bodyStart) < 0) return 0;
    }

    std::string_view rest(body);
    for (;;) {
        size_t eq = rest.find('=');
        size_t amp = rest.find('&');
        if (eq == std::string_view::npos || amp == std::string_view::npos || amp < eq) return 0;
        if (tcore_list_count(fields) >= TII_REQUEST_MAX_FIELDS) return 0;
        std::string name(rest.substr(0, eq));
        // An empty name (also one that starts with a NUL byte) is skipped
        // here, so a flood of them costs no argument-check log lines.
        if (name.c_str()[0] != '\0') {
            std::string value(rest.substr(eq + 1, amp - eq - 1));
            tcore_kvlist_add(fields, name.c_str(), value.c_str());  // a repeated name drops out
        }
        rest.remove_prefix(amp + 1);
    }
}

int TiiAppendItem(tcore_datanode *jsondata, const char *name, const char *value) {
    if (!jsondata || !name || !value) return TII_ERR_ARG;
    tcore_datanode_appendString(jsondata, "\"");
    tcore_datanode_appendString(jsondata, name);
    tcore_datanode_appendString(jsondata, "\":\"");
    tcore_datanode_appendString(jsondata, value);
    tcore_datanode_appendString(jsondata, "\",");
    return 0;
}
