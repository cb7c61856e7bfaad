#pragma once
// What the list's row commands do to the result list, apart from the
// clipboard and the menu: which column each copy command takes. (Deleting
// the silent rows is the list's own operation, ResultList::RemoveSilentRows.)

// The column that a copy command copies; -1 for any other command.
int CopyCommandColumn(int command);
