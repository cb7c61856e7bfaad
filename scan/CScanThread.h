#pragma once
// One worker of a scan: probes one address and fills that address's row.

#include "platform/CWinThread.h"

#include <string>

class CThreadManager;

class CScanThread : public CWinThread {
public:
    CScanThread() = default;

    void SetAddress(const std::string& address) { m_strAddress = address; }
    void SetRow(int row) { m_nRow = row; }

    CThreadManager* m_pManager = nullptr;

protected:
    void Run() override;

private:
    std::string m_strAddress;
    int m_nRow = 0;
};
