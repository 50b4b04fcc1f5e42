#pragma once

#include <QSet>
#include <QString>

#include <functional>
#include <utility>

namespace tirvel {

// Says each file's trouble once, and again only after that file has been written (or read) since:
// a disk that stays full or a pipe that stays planted is one report, not one for every event or
// every second.
class ReportOnce
{
public:
    explicit ReportOnce(std::function<void(const QString &description)> report)
        : m_report(std::move(report))
    {
    }

    // file names the trouble's cause: the file, or a word for a trouble of its own.
    void failed(const QString &file, const QString &description)
    {
        if (m_failing.contains(file))
            return;
        m_failing.insert(file);
        m_report(description);
    }
    void written(const QString &file) { m_failing.remove(file); }
    // For news that is said once by being news: a folder that has just changed.
    void tellNews(const QString &description) { m_report(description); }

private:
    std::function<void(const QString &)> m_report;
    QSet<QString> m_failing;
};

} // namespace tirvel
