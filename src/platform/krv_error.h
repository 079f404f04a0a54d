#pragma once
// The program's run-time error: number, description and the line where it was raised,
// the three values the fatal report shows. Header-only so that every layer can raise it.
#include <QString>
#include <stdexcept>

namespace krv {

class KrvError : public std::runtime_error {
public:
    KrvError(int number, const QString& description, int line = 0)
        : std::runtime_error(description.toStdString()), number_(number), description_(description),
          line_(line) {}

    int number() const { return number_; }
    const QString& description() const { return description_; }
    int line() const { return line_; }

private:
    int number_;
    QString description_;
    int line_;
};

// error as the program's error: a KrvError as it is, anything else with number and its text.
inline KrvError asKrvError(const std::exception& error, int number = 0) {
    if (auto* k = dynamic_cast<const KrvError*>(&error))
        return *k;
    return KrvError(number, QString::fromLocal8Bit(error.what()));
}

// The text of the runtime's standard report of error (platform/application.h shows it).
inline QString runtimeErrorText(const KrvError& error) {
    return QString("Erro em tempo de execução '%1':\r\n\r\n%2")
        .arg(error.number())
        .arg(error.description());
}

// Error numbers of our own, in the range the original runtime left to applications.
namespace err {
inline constexpr int NotConnected = 3704; // operation on a connection that is not open
inline constexpr int Database = 3146;     // the database refused a statement
inline constexpr int FileNotFound = 53;
inline constexpr int FileAccess = 75;     // path/file access error
inline constexpr int BadFileFormat = 321; // invalid file format
inline constexpr int Download = 35750;    // a download that did not complete
inline constexpr int Archive = 35760;     // an archive that could not be extracted
inline constexpr int TableInUse = 35780;  // another connection held a table past the wait
} // namespace err

} // namespace krv
