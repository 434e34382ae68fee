// Static message maps: each class that handles messages keeps a table of (message, notification
// code, control id, handler) entries and a link to its base class's table. The dispatcher walks
// the chain from the most derived class; the first match handles the message.
#pragma once

#include "platform/win_types.h"

class CCmdTarget;

// Every handler is reached through a small generated thunk of one shape, so the table stays
// type-safe: the thunk knows the handler's class and signature, the table does not need to. The
// thunk returns whether the handler took the message; when it did, `result` is the message's
// result. A handler that declines leaves the message to the system's default handling.
typedef bool (*AFX_THUNK)(CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT& result);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0 ends the table
    UINT nCode;     // WM_COMMAND notification code
    UINT nID;       // WM_COMMAND control or command id
    AFX_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* pBaseMap;
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    virtual const AFX_MSGMAP* GetMessageMap() const { return nullptr; }
    // The entry handling `message` (for WM_COMMAND: with `code` and `id`), or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message, UINT code, UINT id) const;
    // Runs the WM_COMMAND handler for (code, id) if this target has one.
    BOOL OnCmdMsg(UINT code, UINT id);

protected:
    static const AFX_MSGMAP* GetThisMessageMap() { return nullptr; }
};

// A handler that returns nothing always takes its message; one that returns bool says whether
// it did.
template <class T, class M, M fn>
bool AfxCallVoid(CCmdTarget* target, WPARAM, LPARAM, LRESULT&) {
    (static_cast<T*>(target)->*fn)();
    return true;
}

template <class T, class M, M fn>
bool AfxCallBool(CCmdTarget* target, WPARAM, LPARAM, LRESULT&) {
    return (static_cast<T*>(target)->*fn)();
}

template <class T, class M, M fn>
bool AfxCallSysCommand(CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT&) {
    return (static_cast<T*>(target)->*fn)(static_cast<UINT>(wParam), lParam);
}

template <class T, class M, M fn>
bool AfxCallQueryIcon(CCmdTarget* target, WPARAM, LPARAM, LRESULT& result) {
    result = reinterpret_cast<LRESULT>((static_cast<T*>(target)->*fn)());
    return true;
}

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

// A map without entries (the About box's) names no handler, so ThisClass may go unused.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        typedef baseClass TheBaseClass;                 \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                       \
    { 0, 0, 0, nullptr }                                                        \
    }                                                                           \
    ;                                                                           \
    static const AFX_MSGMAP map = {TheBaseClass::GetThisMessageMap(), entries}; \
    return &map;                                                                \
    }

#define AFX_ENTRY_THUNK(call, fn) &call<ThisClass, decltype(&ThisClass::fn), &ThisClass::fn>

#define ON_WM_PAINT() {WM_PAINT, 0, 0, AFX_ENTRY_THUNK(AfxCallBool, OnPaint)},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, AFX_ENTRY_THUNK(AfxCallBool, OnDestroy)},
#define ON_WM_SYSCOMMAND() {WM_SYSCOMMAND, 0, 0, AFX_ENTRY_THUNK(AfxCallSysCommand, OnSysCommand)},
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0, AFX_ENTRY_THUNK(AfxCallQueryIcon, OnQueryDragIcon)},
#define ON_COMMAND(id, fn) {WM_COMMAND, 0, static_cast<UINT>(id), AFX_ENTRY_THUNK(AfxCallVoid, fn)},
#define ON_CONTROL(code, id, fn) \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), AFX_ENTRY_THUNK(AfxCallVoid, fn)},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
