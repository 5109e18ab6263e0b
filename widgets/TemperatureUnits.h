// Conversions between the two temperature units the operator can work in,
// to one decimal, rounding halves up for the (positive) temperatures of
// people. Pure functions; any thread.
#pragma once

double celsiusToFahrenheit(double celsius);
double fahrenheitToCelsius(double fahrenheit);
