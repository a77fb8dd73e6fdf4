// Settings and launch-agent files as the programs read them: any bytes, taken as an XML or a
// binary property list. Whatever a read hands out must be written as XML without leaving
// anything out, and read back the same, kind and value; what it leaves out it names.
#include "platform/PropertyList.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void breach(const char* what, const QByteArray& xml)
{
    std::fprintf(stderr, "settings_file_fuzzer: %s\n%s\n", what, xml.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList leftOut;
    const QVariant value = platform::parsePropertyList(input, nullptr, &leftOut);
    if (!value.isValid())
        return 0;
    for (const QString& entry : std::as_const(leftOut)) {
        if (!entry.endsWith(u')'))
            breach("a value left out without a reason", entry.toUtf8());
    }

    QStringList notWritten;
    QString error;
    const QByteArray xml = platform::xmlPropertyListData(value, &notWritten, &error);
    if (xml.isEmpty()) {
        // Only a binary file that expands far may turn into XML beyond the readable size.
        if (!error.contains(QStringLiteral("larger than")))
            breach("a value read could not be written", error.toUtf8());
        return 0;
    }
    if (!notWritten.isEmpty())
        breach("a value read was left out when written", notWritten.join(u'\n').toUtf8());

    QStringList leftOutAgain;
    const QVariant again = platform::parsePropertyList(xml, &error, &leftOutAgain);
    if (!again.isValid())
        breach("the XML written could not be read back", xml);
    if (!leftOutAgain.isEmpty())
        breach("the XML written lost values when read back", xml);
    if (!platform::plistValuesEqual(again, value))
        breach("a value changed on its way through XML", xml);
    if (platform::xmlPropertyListData(again) != xml)
        breach("the XML written is not stable", xml);
    return 0;
}
