#include "core/res/AcceleratorTable.h"

#include "core/res/Resource.h"

namespace {

const Accelerator kTable[] = {
    {'A', kAccelCtrl, ID_COPY_COMPUTER_NAME},
    {'B', kAccelCtrl, ID_DELETE_SILENT_ROWS},
    {'C', kAccelCtrl, ID_EDIT_COPY},
    {'C', kAccelCtrl, ID_COPY_DOMAIN_NAME},
    {'C', kAccelCtrl, ID_COPY_VENDOR},
    {'H', kAccelCtrl, ID_SEARCH},
    {'I', kAccelCtrl, ID_COPY_ADDRESS},
    {'M', kAccelCtrl, ID_COPY_MAC_ADDRESS},
    {'N', kAccelCtrl, ID_FILE_NEW},
    {'N', kAccelCtrl, ID_COPY_MESSENGER},
    {'N', kAccelCtrl, ID_NET_COMMAND},
    {'N', kAccelCtrl, ID_NET_COMMAND},
    {'O', kAccelCtrl, ID_FILE_OPEN},
    {'P', kAccelCtrl, ID_FILE_PRINT},
    {'R', kAccelCtrl, ID_DIAGNOSE},
    {'S', kAccelCtrl, ID_FILE_SAVE},
    {'V', kAccelCtrl, ID_EDIT_PASTE},
    {kKeyBackspace, kAccelAlt, ID_EDIT_UNDO},
    {kKeyDelete, kAccelShift, ID_EDIT_CUT},
    {kKeyF6, 0, ID_NEXT_PANE},
    {kKeyF6, kAccelShift, ID_PREV_PANE},
    {kKeyInsert, kAccelCtrl, ID_EDIT_COPY},
    {kKeyInsert, kAccelShift, ID_EDIT_PASTE},
    {'X', kAccelCtrl, ID_EDIT_CUT},
    {'Z', kAccelCtrl, ID_EDIT_UNDO},
};

} // namespace

std::span<const Accelerator> MainAccelerators() { return kTable; }
