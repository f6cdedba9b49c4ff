// Built with -ffp-contract=off: the read tool's arithmetic has no fused multiply-add, and a fused
// one rounds differently in a fraction of samples.
#include "polynomialweight.h"

#include <QByteArray>

namespace {

const int Darken = 1;
const double QuantumRange = 65535.0;
const double QuantumScale = 1.0 / QuantumRange;

// The tool reads each parameter as C-locale text (correctly rounded), so the weight is what its text
// says, not the double the plan holds. Qt's reading is the C locale's whatever the process's locale.
double parameterValue(const QString &text)
{
    return text.toLatin1().toDouble();
}

// The tool's "Polynomial" of a 16-bit quantum: Horner's rule over the parameters, scaled to the
// quantum range, then clamped and rounded to a quantum.
quint16 polynomial(double a, double b, double quantum)
{
    double result = 0.0;
    result = result * QuantumScale * quantum + a;
    result = result * QuantumScale * quantum + b;
    result *= QuantumRange;
    if (result <= 0.0)
        return 0;
    if (result >= QuantumRange)
        return 65535;
    return quint16(result + 0.5);
}

} // namespace

PolynomialWeight::PolynomialWeight(double weight, int stackMethod)
{
    const QString weightText = QString::number(weight, 'g', 6);
    const QString offsetText = stackMethod == Darken ? QString::number(1.0 - weight, 'g', 6)
                                                     : QStringLiteral("0.0");
    m_arguments = QString("-function Polynomial %1,%2").arg(weightText, offsetText);
    const double a = parameterValue(weightText);
    const double b = parameterValue(offsetText);
    // An 8-bit source value v is the quantum 257 v in the tool's 16-bit pixels.
    for (int v = 0; v < 256; ++v)
        m_table[size_t(v)] = polynomial(a, b, double(257 * v));
}
