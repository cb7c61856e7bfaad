#pragma once
// What the list's row commands do to the result list, apart from the
// clipboard and the menu: which column each copy command takes, and the
// deletion of the rows of addresses that did not answer.

class ResultList;

// The column that a copy command copies; -1 for any other command.
int CopyCommandColumn(int command);

// Deletes every row whose response cell reads exactly "×". Rows marked "○"
// and rows whose mark is not written yet stay, in their order.
void DeleteNonRespondingRows(ResultList& list);
