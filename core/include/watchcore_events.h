#pragma once
// The command a section list sends its host, delivered with QCoreApplication::sendEvent (synchronous,
// before the call that caused it goes on). Hosts compare event->type() with kType and static_cast;
// no dynamic_cast, which would need the type's RTTI shared across libraries.

#include <QEvent>
#include <cstdint>

// The command a section list sends its host: wParam = command base | code << 16 (code 1 a page's widgets
// were created, code 2 they are about to be destroyed), lParam = the category id.
class WatchcoreCommandEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x111);
    WatchcoreCommandEvent(uint32_t wParam, intptr_t lParam) : QEvent(kType), wParam(wParam), lParam(lParam) {}
    uint32_t wParam;
    intptr_t lParam;
};
