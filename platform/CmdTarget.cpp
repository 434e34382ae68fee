#include "platform/CmdTarget.h"

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pBaseMap) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nMessage; ++entry) {
            if (entry->nMessage != message) {
                continue;
            }
            if (message != WM_COMMAND || (entry->nCode == code && entry->nID == id)) {
                return entry;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT code, UINT id) {
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(WM_COMMAND, code, id);
    if (!entry) {
        return FALSE;
    }
    LRESULT unused;
    return entry->pfn(this, 0, 0, unused);
}
