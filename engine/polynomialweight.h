#ifndef VELUMEN_POLYNOMIALWEIGHT_H
#define VELUMEN_POLYNOMIALWEIGHT_H

#include <QString>

#include <array>

// The read tool's weighting ("-function Polynomial a,b") of one operation, as the tool computes it.
class PolynomialWeight
{
public:
    PolynomialWeight(double weight, int stackMethod);  // stackMethod: 0 Lighten, 1 Darken, 2 Mean
    // The tool arguments, byte for byte what the worker passes to the read tool.
    const QString &arguments() const { return m_arguments; }
    // The 16-bit sample the read tool streams for each 8-bit source value under these arguments.
    quint16 at(uchar value) const { return m_table[value]; }

private:
    QString m_arguments;
    std::array<quint16, 256> m_table{};
};

#endif
