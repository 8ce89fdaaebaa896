/*
 * calibration_data.h -- a small calibration data set for the example host
 * program: duplicate absorbance readings of standard solutions of known
 * concentration (mg/L), each with the standard uncertainty of the reading.
 */
#ifndef CALIBRATION_DATA_H
#define CALIBRATION_DATA_H

#define STD_COUNT 13

/* Concentration of each standard, mg/L. */
static const double std_conc[STD_COUNT] = {0.0, 0.0, 1.0, 2.0, 2.0, 4.0, 4.0,
                                           6.0, 6.0, 8.0, 8.0, 10.0, 10.0};

/* Absorbance read for each standard. */
static const double std_abs[STD_COUNT] = {0.0120, 0.0125, 0.1637, 0.3119, 0.3131,
                                          0.6041, 0.6082, 0.8996, 0.8903, 1.1650,
                                          1.1718, 1.4386, 1.4368};

/* Standard uncertainty of each reading. */
static const double std_uabs[STD_COUNT] = {0.0015, 0.0015, 0.0022, 0.0028, 0.0028,
                                           0.0039, 0.0039, 0.0051, 0.0051, 0.0062,
                                           0.0062, 0.0072, 0.0072};

#endif /* CALIBRATION_DATA_H */
