#include "widgets/TemperatureUnits.h"

#include <cmath>

// Adding 0.05 and cutting toward zero at the first decimal gives the half-up
// value for positive temperatures; the camera's own display rounds the same
// way, so both show the same figure.
double celsiusToFahrenheit(double celsius)
{
    return std::trunc((celsius * 9.0 / 5.0 + 32.0 + 0.05) * 10.0) / 10.0;
}

double fahrenheitToCelsius(double fahrenheit)
{
    return std::trunc(((fahrenheit - 32.0) * 5.0 / 9.0 + 0.05) * 10.0) / 10.0;
}
