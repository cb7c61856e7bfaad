#pragma once
// The document of the single main window. It holds no data: the result list
// is the view's alone, and nothing is saved or loaded with a document.

class CTarnelDoc {
public:
    // A new document: nothing to reset.
    bool OnNewDocument() { return true; }
};
