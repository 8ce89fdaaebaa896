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

/* Standard uncertainty of each concentration (preparation of the standard):
 * 0.01 mg/L plus 0.5 % of the value. */
static const double std_uconc[STD_COUNT] = {0.010, 0.010, 0.015, 0.020, 0.020, 0.030, 0.030,
                                            0.040, 0.040, 0.050, 0.050, 0.060, 0.060};

/* Unknown samples: absorbance read, with its standard uncertainty. */
#define SAMPLE_COUNT 4
static const double sample_abs[SAMPLE_COUNT] = {0.0850, 0.4520, 0.9310, 1.3050};
static const double sample_uabs[SAMPLE_COUNT] = {0.0020, 0.0035, 0.0053, 0.0067};

#endif /* CALIBRATION_DATA_H */
