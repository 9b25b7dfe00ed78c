#include "ui/qt/QtInteraction.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace tunara::qt {

namespace {
const QString kTitle = QStringLiteral("Tunara");

QWidget* DialogParent() {
    QWidget* w = QApplication::activeWindow();
    return w ? w->window() : nullptr;
}
}  // namespace

QtInteraction::QtInteraction() {
    SetUserInteraction(this);
    SetFileDialogs(this);
    UiQueue().SetWaker([] {
        QMetaObject::invokeMethod(
            qApp, [] { UiQueue().Deliver(); }, Qt::QueuedConnection);
    });
}

QtInteraction::~QtInteraction() {
    UiQueue().SetWaker(nullptr);
    SetFileDialogs(nullptr);
    SetUserInteraction(nullptr);
}

void QtInteraction::ShowError(const UserMessage& message) {
    if (beforeMessage) beforeMessage();
    QMessageBox box(QMessageBox::Critical, kTitle, QString::fromStdString(message.Formatted()),
                    QMessageBox::Ok, DialogParent());
    box.exec();
}

Answer QtInteraction::Ask(const std::string& question, bool withCancel) {
    if (beforeMessage) beforeMessage();
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel) buttons |= QMessageBox::Cancel;
    QMessageBox box(QMessageBox::Question, kTitle, QString::fromStdString(question), buttons,
                    DialogParent());
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return withCancel ? Answer::Cancel : Answer::No;
    }
}

QString QtFilter(const FileFilter& filter) {
    QString description = QString::fromStdString(filter.description);
    const int paren = description.indexOf(QLatin1Char('('));
    if (paren >= 0) description = description.left(paren).trimmed();
    QString pattern = QString::fromStdString(filter.pattern);
    pattern.replace(QLatin1String("*.*"), QLatin1String("*"));
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    return description + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

std::vector<std::string> QtInteraction::ChooseOpen(const std::vector<FileFilter>& filters,
                                                   int selected, bool multiple) {
    QStringList list;
    for (const auto& f : filters) list << QtFilter(f);
    QString chosenFilter = selected >= 0 && selected < list.size() ? list[selected] : QString();
    QStringList names;
    if (multiple) {
        names = QFileDialog::getOpenFileNames(DialogParent(), QString(), QString(),
                                              list.join(QStringLiteral(";;")), &chosenFilter);
    } else {
        const QString name = QFileDialog::getOpenFileName(
            DialogParent(), QString(), QString(), list.join(QStringLiteral(";;")), &chosenFilter);
        if (!name.isEmpty()) names << name;
    }
    std::vector<std::string> out;
    for (const QString& n : names) out.push_back(n.toStdString());
    return out;
}

std::optional<SaveChoice> QtInteraction::ChooseSave(const std::vector<FileFilter>& filters,
                                                    int selected, bool promptOverwrite) {
    QStringList list;
    for (const auto& f : filters) list << QtFilter(f);
    QString chosenFilter = selected >= 0 && selected < list.size() ? list[selected] : QString();
    QFileDialog::Options options;
    if (!promptOverwrite) options |= QFileDialog::DontConfirmOverwrite;
    const QString name =
        QFileDialog::getSaveFileName(DialogParent(), QString(), QString(),
                                     list.join(QStringLiteral(";;")), &chosenFilter, options);
    if (name.isEmpty()) return std::nullopt;
    SaveChoice choice;
    choice.path = name.toStdString();
    choice.filter = std::max(0, static_cast<int>(list.indexOf(chosenFilter)));
    return choice;
}

}  // namespace tunara::qt
