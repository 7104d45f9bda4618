#pragma once

#include <QString>

#include <memory>
#include <optional>

class QSettings;

// The settings store: string values of the per-user key "Software\Vantrel\kelmdesk\settings"
// (here the [settings] group of the Vantrel/kelmdesk store). Open, read or write at once, close.
// A store that cannot be opened makes every read absent and every write fail, silently.
class CSettingsKey
{
public:
    enum Access : unsigned { Read = 0x20019, Write = 0x20006 };

    CSettingsKey();
    ~CSettingsKey();
    CSettingsKey(const CSettingsKey&) = delete;
    CSettingsKey& operator=(const CSettingsKey&) = delete;

    bool open(Access access);
    bool isOpen() const { return m_settings != nullptr; }
    // Absent when the key is not open, the value does not exist or is longer than 1023 characters.
    std::optional<QString> read(const char* name) const;
    bool write(const char* name, const QString& text);
    // Puts every write on disk; does nothing when open failed. False when open failed or the store
    // could not be written; errorText() then says why.
    bool close();
    // The system's reason why the store could not be opened or written, else empty.
    QString errorText() const { return m_error; }
    // What a dialog tells the user when close() failed: the store's path and errorText().
    QString notStoredMessage() const;

    // The file behind the store (for tests and the demo).
    static QString storePath();
    static constexpr int MaxValueLength = 1023;

private:
    std::unique_ptr<QSettings> m_settings;
    Access m_access = Read;
    QString m_error;
};

// Reads one value with a fresh key: absent, or its text.
std::optional<QString> readSetting(const char* name);
