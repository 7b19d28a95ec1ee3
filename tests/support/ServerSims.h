#pragma once

#include "SimController.h"

#include <QList>
#include <QString>
#include <QTestData>

#include <functional>
#include <map>
#include <memory>

// The simulated controllers of a test case that runs against every SSH server a controller may
// run. Its data-driven functions take a "server" column (addColumn(), newRow()); a server's
// controller starts the first time a row needs it and runs until the test case ends.
class ServerSims
{
public:
    static const QList<SimController::Server> &servers();
    static QString name(SimController::Server server);
    static void addColumn();
    // A row named "<server> <name>" (or just the server) whose first column is the server.
    static QTestData &newRow(SimController::Server server, const QString &name);

    // Start options for every controller (the server is set per controller).
    void setOptions(const SimController::Options &options) { m_options = options; }
    // Runs on a controller right after it started (files a test case needs, say).
    void setPreparation(std::function<bool(SimController &)> prepare)
    {
        m_prepare = std::move(prepare);
    }
    // The controller of the given server, or of the current row's "server"; null, with the
    // reason in lastError(), when it does not come up.
    SimController *get(SimController::Server server);
    SimController *current();
    QString lastError() const { return m_lastError; }
    // The controllers started so far.
    QList<SimController *> started() const;

private:
    std::map<SimController::Server, std::unique_ptr<SimController>> m_sims;
    std::function<bool(SimController &)> m_prepare;
    SimController::Options m_options;
    QString m_lastError;
};
