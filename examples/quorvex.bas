Attribute VB_Name = "quorvex"
' quorvex.bas -- calibration curves in a spreadsheet: worksheet functions
' and a worked macro over QUORVEXlab1.dll, which holds every laboratory rule
' (the fit with its defaults, weighting presets and exclusions; reading
' samples back with u(y), U, k, the inversion interval and the flags; the
' verdict; the detection limits; the bands; the power form; every text), and
' QUORVEXv1.dll (a straight line's intercept and slope).  The module computes
' nothing of its own: it turns cells into arguments and results into cells.
'
' Import it in the VBA editor (File > Import File...), into the workbook or
' into an add-in.  The DLLs must match the office suite, not Windows: a
' 64-bit Excel loads only the 64-bit DLLs, a 32-bit Excel only the 32-bit
' ones (File > Account > About Excel says which).  QuorvexLoad looks for
' each of the two, in this order, and takes the first that loads:
'   1. the name QUORVEX_PATH of this workbook, then of the active workbook:
'      a cell or a constant holding a folder or the full path of the DLL;
'   2. this workbook's folder, then the active workbook's, when it is a
'      folder on this computer or the network (not an unsaved workbook, not
'      a web address of a file synchronised to the cloud);
'   3. the user's add-ins folder (Application.UserLibraryPath).
' In each folder it tries QUORVEXv1.dll, then 64-bit\QUORVEXv1.dll (or
' 32-bit\QUORVEXv1.dll in a 32-bit Excel), as the zip file lays them out;
' then the same for QUORVEXlab1.dll.
' When none loads, the message lists every path tried and why it failed.
'
' Worksheet functions (errors come back as #VALUE! for input the library
' refuses and #NUM! for a calculation that has no answer; =QVX_ERROR(cell)
' says why, in the library's words):
'   =QVX_FIT(x, y, [u_y], [u_x], [degree], [weighting], [exclude], [covariance],
'            [weights])
'       the fit block, which holds the calibration for the functions below.
'       degree 0 to 9 (default 1).  Without u_y the fit is unweighted, or
'       weighted by the preset "1/x" or "1/x2", by "1/y" or "1/y2" from the
'       responses, or by weights (a column, one weight per standard), and
'       its covariance is scaled by the scatter of the standards.  A
'       variance model as the weighting ("constant", "proportional",
'       "floor", "power", or "auto" for the one the likelihood-ratio test
'       chooses) is fitted to the replicate standards (without replicates,
'       to the residuals) and weights the fit by 1/sigma(x): samples then
'       take their u(y) from the model, and the limits the blank's from its
'       floor; the block carries the model in its last row and each
'       standard's mean response in its ninth column.  With u_y (one value or one per
'       standard) the stated uncertainties weight it and the covariance is
'       stated; with u_x as well the fit allows for the uncertainty of x
'       (errors in variables).  exclude: a range beside the standards, a
'       reason in the cell of each standard left out (empty: fitted).
'       covariance "stated" or "scaled" overrides the choice.
'   =QVX_READ(y, [u_y], fit, [readings], [level], [limits], [u_y_relative])
'       a sample, one
'       row: x, u(x), U, k, dof, inversion interval low and high, u(y), where
'       u(y) came from, the flags; =QVX_READ_LABELS() the row's labels.
'       u_y empty: the library's default (the scatter of the standards at
'       the sample's x, for the mean of readings); a number: stated (0 is
'       the curve's part only); "curve-only": u(y) = 0.  level: coverage
'       probability of U and the interval (0.95).  limits: a QVX_LIMITS
'       block, to flag samples below LOD and LOQ.  u_y_relative: where the
'       standards carry relative u(y) (1/y, 1/y2, weights, or u_y with the
'       covariance scaled), the sample's on their scale (its |y| for 1/y2,
'       sqrt(|y|) for 1/y, 1/sqrt(w) for a weight w).
'   =QVX_X(y, [u_y], fit, [readings], [root])  the x of a response y
'   =QVX_UX(y, [u_y], fit, [readings], [root]) its standard uncertainty u(x)
'   =QVX_UY(y, [u_y], fit, [readings])         the u(y) used
'       root picks one x (1 = smallest) where the curve gives the response
'       at several.
'   =QVX_VERDICT(fit, [alpha], [warn_only])  is the calibration fit for use:
'       a row per criterion (statistic, p-value or limit, level, result,
'       detail) and the overall verdict.  alpha: the overall false-rejection
'       rate; warn_only: criteria that only warn (1 goodness, 2 lack of fit,
'       4 outliers, 8 back-calculated, a sum).
'   =QVX_LIMITS(fit, [blank], [alpha], [beta], [replicates], [u_blank], [k_loq],
'               [blank_readings])
'       the detection and quantification limits, each named by its
'       definition (ICH Q2, ISO 11843-2, DIN 32645), and where the blank's
'       scatter came from: u_blank, else the scatter of blank_readings (a
'       range of readings of blanks, at least 2), else the floor of the
'       fit's variance model, else what the fit tells.
'   =QVX_BAND(x, fit, [level], [kind], [u_y])  the curve at x with its
'       confidence ("confidence") or prediction ("prediction") band: y, u,
'       lower, upper, k.
'   =QVX_Y(x, fit)       the curve's response at x
'   =QVX_LINE(fit)       intercept and slope with u (2 rows, 3 columns)
'   =QVX_POWER(fit)      intercept, slope, x^2, ... with u (degree + 1 rows)
'   =QVX_ERROR([cell])   why the formula in cell failed ("" if it did not);
'                        without a cell, the latest failure's reason
' A block result spills from one cell (Excel 365), or select the block and
' enter it with Ctrl+Shift+Enter.  A value the library reports as not a
' number is an empty cell; an infinite one reads "inf".
'
' Every argument of the DLLs is passed ByRef: a 32-bit integer as Long, a
' real as Double, an array by its first element (COEF(1)).  VBA stores a
' matrix column by column, as the library reads it, so a matrix dimensioned
' (1 To NCOEF, 1 To NCOEF) is passed as COV(1, 1).  The declarations are
' those of include/quorvex.h and include/quorvex_lab.h, argument for
' argument; the status codes are listed there.
Option Explicit

#If VBA7 Then
' Office 2010 and later, 32-bit and 64-bit.
Public Declare PtrSafe Sub OLSPFIT Lib "QUORVEXv1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef W As Double, _
    ByRef NCOEF As Long, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef COEF As Double, ByRef COV As Double, ByRef SRES As Double, _
    ByRef YFIT As Double, ByRef RES As Double, ByRef WRES As Double, _
    ByRef WRESMAX As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub GLSPFIT Lib "QUORVEXv1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef WX As Double, _
    ByRef WY As Double, ByRef NCOEF As Long, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef TOL As Double, ByRef MAXIT As Long, ByRef SIGMA As Double, _
    ByRef PARAM As Double, ByRef COV As Double, ByRef SRES As Double, _
    ByRef YFIT As Double, ByRef RES As Double, ByRef WRES As Double, _
    ByRef WRESMAX As Double, ByRef R11 As Double, ByRef R12 As Double, _
    ByRef R22 As Double, ByRef RINFO As Double, ByRef OLSTAT As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub POLYEVAL Lib "QUORVEXv1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef NPTS As Long, ByRef X As Double, _
    ByRef XMIN As Double, ByRef XMAX As Double, ByRef Y As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub IPVAL Lib "QUORVEXv1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef NPTS As Long, _
    ByRef Y As Double, ByRef COVY As Double, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef NGRID As Long, ByRef TOL As Double, ByRef NROOT As Long, ByRef XROOT As Double, _
    ByRef UXROOT As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub LINEAR_CONV Lib "QUORVEXv1.dll" ( _
    ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef LCOEF As Double, ByRef LCOV As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub IPVAL_DEGREE1 Lib "QUORVEXv1.dll" ( _
    ByRef COEF As Double, ByRef COV As Double, ByRef NPTS As Long, ByRef Y As Double, _
    ByRef COVY As Double, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef XPRED As Double, ByRef UXPRED As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_FIT Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef UY As Double, _
    ByRef UX As Double, ByRef GIVEN As Long, ByRef WEIGHTING As Long, ByRef KEEP As Long, _
    ByRef NCOEF As Long, ByRef DEFAULTS As Long, ByRef INTERVAL As Double, ByRef TOL As Double, _
    ByRef MAXIT As Long, ByRef SIGMA As Double, ByRef COVKIND As Long, ByRef COEF As Double, _
    ByRef COV As Double, ByRef COVSC As Double, ByRef SRES As Double, ByRef NDOF As Long, _
    ByRef CHI2 As Double, ByRef FITTED As Double, ByRef RES As Double, ByRef WRES As Double, _
    ByRef XADJ As Double, ByRef RESX As Double, ByRef WRESX As Double, ByRef WEIGHTS As Double, _
    ByRef XWEIGHTS As Double, ByRef RINFO As Double, ByRef INFO As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_DEFAULT_INTERVAL Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef HASUX As Long, ByRef UX As Double, _
    ByRef XMIN As Double, ByRef XMAX As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_READBACK Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef SRES As Double, _
    ByRef WEIGHTING As Long, ByRef STATED As Long, ByRef XSTD As Double, ByRef HASLIM As Long, _
    ByRef LIMITS As Double, ByRef NPTS As Long, ByRef Y As Double, ByRef UYMODE As Long, _
    ByRef UY As Double, ByRef REPL As Double, ByRef LEVEL As Double, ByRef NGRID As Long, _
    ByRef TOL As Double, ByRef EXTRAP As Long, ByRef NROOT As Long, ByRef ROOTS As Double, _
    ByRef UROOTS As Double, ByRef UYUSED As Double, ByRef UYSRC As Long, _
    ByRef UCURVE As Double, ByRef DOF As Double, ByRef K As Double, ByRef U As Double, _
    ByRef LOW As Double, ByRef HIGH As Double, ByRef XEXT As Double, ByRef UXEXT As Double, _
    ByRef FLAGS As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_SAMPLE_LIMITS Lib "QUORVEXlab1.dll" ( _
    ByRef BLANK As Double, ByRef XD As Double, ByRef LOQ As Double, ByRef LOQDIN As Double, _
    ByRef HASLIM As Long, ByRef LIMITS As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_POWER Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef A As Double, ByRef CA As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_CURVE Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef WHAT As Long, ByRef EXTEND As Long, ByRef NPTS As Long, _
    ByRef X As Double, ByRef Y As Double, ByRef DY As Double, ByRef U As Double, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_BAND Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef LEVEL As Double, _
    ByRef KIND As Long, ByRef NPTS As Long, ByRef X As Double, ByRef RSD As Double, _
    ByRef Y As Double, ByRef U As Double, ByRef LOWER As Double, ByRef UPPER As Double, _
    ByRef K As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_RESPONSE_SD Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef WEIGHTING As Long, ByRef NSTD As Long, _
    ByRef USTD As Double, ByRef COVKIND As Long, ByRef SRES As Double, ByRef SD As Double, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_VERDICT Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef KIND As Long, ByRef COVKIND As Long, ByRef NDOF As Long, _
    ByRef SRES As Double, ByRef CHI2 As Double, ByRef STATED As Long, ByRef NPTS As Long, _
    ByRef X As Double, ByRef Y As Double, ByRef W As Double, ByRef WRES As Double, _
    ByRef WRESX As Double, ByRef CRIT As Double, ByRef WARNONLY As Long, ByRef APPLIES As Long, _
    ByRef STATV As Double, ByRef PLIM As Double, ByRef ALPHA As Double, ByRef RESULT As Long, _
    ByRef DETAIL As Long, ByRef OVERALL As Long, ByRef REASONS As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_DEFAULT_CRITERIA Lib "QUORVEXlab1.dll" ( _
    ByRef CRIT As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_LIMITS Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef SRES As Double, _
    ByRef WEIGHTING As Long, ByRef NSTD As Long, ByRef XSTD As Double, ByRef WSTD As Double, _
    ByRef STATED As Long, ByRef UYSTD As Double, ByRef ALPHA As Double, ByRef BETA As Double, _
    ByRef BLANK As Double, ByRef REPL As Long, ByRef HASUB As Long, ByRef UBLANK As Double, _
    ByRef KLOQ As Double, ByRef LIM As Double, ByRef SOURCE As Long, ByRef EXTRAP As Long, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_TEXT Lib "QUORVEXlab1.dll" ( _
    ByRef KIND As Long, ByRef CODE As Long, ByRef TEXT As Byte, ByRef LENGTH As Long, _
    ByRef NEEDED As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_VARIANCE_FIT Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef MODEL As Long, _
    ByRef ALPHA As Double, ByRef CHOSEN As Long, ByRef PAR As Double, ByRef PCOV As Double, _
    ByRef LOGLIK As Double, ByRef TEST As Double, ByRef NDOF As Long, ByRef SD As Double, _
    ByRef MU As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_VARIANCE_FIT_RESIDUALS Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef NCOEF As Long, _
    ByRef MODEL As Long, ByRef ALPHA As Double, ByRef CHOSEN As Long, ByRef PAR As Double, _
    ByRef PCOV As Double, ByRef LOGLIK As Double, ByRef TEST As Double, ByRef NDOF As Long, _
    ByRef SD As Double, ByRef MU As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_VARIANCE_AT Lib "QUORVEXlab1.dll" ( _
    ByRef MODEL As Long, ByRef PAR As Double, ByRef PCOV As Double, ByRef NPTS As Long, _
    ByRef X As Double, ByRef MU As Double, ByRef SD As Double, ByRef DOF As Double, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_VARIANCE_READBACK Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef MODEL As Long, ByRef PAR As Double, ByRef PCOV As Double, _
    ByRef NSTD As Long, ByRef XSTD As Double, ByRef MUSTD As Double, ByRef XRANGE As Double, _
    ByRef HASLIM As Long, ByRef LIMITS As Double, ByRef NPTS As Long, ByRef Y As Double, _
    ByRef REPL As Double, ByRef LEVEL As Double, ByRef NGRID As Long, ByRef TOL As Double, _
    ByRef NROOT As Long, ByRef ROOTS As Double, ByRef UROOTS As Double, _
    ByRef UYUSED As Double, ByRef UYSRC As Long, ByRef UCURVE As Double, ByRef DOF As Double, _
    ByRef K As Double, ByRef U As Double, ByRef LOW As Double, ByRef HIGH As Double, _
    ByRef XEXT As Double, ByRef UXEXT As Double, ByRef FLAGS As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_BLANK_SCATTER Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef Y As Double, ByRef SD As Double, ByRef DOF As Double, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_RESPONSE_WEIGHTS Lib "QUORVEXlab1.dll" ( _
    ByRef KIND As Long, ByRef NPTS As Long, ByRef V As Double, ByRef UREL As Double, _
    ByRef ISTAT As Long)
Private Declare PtrSafe Function LoadLibraryW Lib "kernel32" ( _
    ByVal lpLibFileName As LongPtr) As LongPtr
Private Declare PtrSafe Function GetModuleHandleW Lib "kernel32" ( _
    ByVal lpModuleName As LongPtr) As LongPtr
Private Declare PtrSafe Function GetFileAttributesW Lib "kernel32" ( _
    ByVal lpFileName As LongPtr) As Long
#Else
' Office 2007 and earlier, 32-bit only.
Public Declare Sub OLSPFIT Lib "QUORVEXv1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef W As Double, _
    ByRef NCOEF As Long, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef COEF As Double, ByRef COV As Double, ByRef SRES As Double, _
    ByRef YFIT As Double, ByRef RES As Double, ByRef WRES As Double, _
    ByRef WRESMAX As Double, ByRef ISTAT As Long)
Public Declare Sub GLSPFIT Lib "QUORVEXv1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef WX As Double, _
    ByRef WY As Double, ByRef NCOEF As Long, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef TOL As Double, ByRef MAXIT As Long, ByRef SIGMA As Double, _
    ByRef PARAM As Double, ByRef COV As Double, ByRef SRES As Double, _
    ByRef YFIT As Double, ByRef RES As Double, ByRef WRES As Double, _
    ByRef WRESMAX As Double, ByRef R11 As Double, ByRef R12 As Double, _
    ByRef R22 As Double, ByRef RINFO As Double, ByRef OLSTAT As Long, ByRef ISTAT As Long)
Public Declare Sub POLYEVAL Lib "QUORVEXv1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef NPTS As Long, ByRef X As Double, _
    ByRef XMIN As Double, ByRef XMAX As Double, ByRef Y As Double, ByRef ISTAT As Long)
Public Declare Sub IPVAL Lib "QUORVEXv1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef NPTS As Long, _
    ByRef Y As Double, ByRef COVY As Double, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef NGRID As Long, ByRef TOL As Double, ByRef NROOT As Long, ByRef XROOT As Double, _
    ByRef UXROOT As Double, ByRef ISTAT As Long)
Public Declare Sub LINEAR_CONV Lib "QUORVEXv1.dll" ( _
    ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef LCOEF As Double, ByRef LCOV As Double, ByRef ISTAT As Long)
Public Declare Sub IPVAL_DEGREE1 Lib "QUORVEXv1.dll" ( _
    ByRef COEF As Double, ByRef COV As Double, ByRef NPTS As Long, ByRef Y As Double, _
    ByRef COVY As Double, ByRef XMIN As Double, ByRef XMAX As Double, _
    ByRef XPRED As Double, ByRef UXPRED As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_FIT Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef UY As Double, _
    ByRef UX As Double, ByRef GIVEN As Long, ByRef WEIGHTING As Long, ByRef KEEP As Long, _
    ByRef NCOEF As Long, ByRef DEFAULTS As Long, ByRef INTERVAL As Double, ByRef TOL As Double, _
    ByRef MAXIT As Long, ByRef SIGMA As Double, ByRef COVKIND As Long, ByRef COEF As Double, _
    ByRef COV As Double, ByRef COVSC As Double, ByRef SRES As Double, ByRef NDOF As Long, _
    ByRef CHI2 As Double, ByRef FITTED As Double, ByRef RES As Double, ByRef WRES As Double, _
    ByRef XADJ As Double, ByRef RESX As Double, ByRef WRESX As Double, ByRef WEIGHTS As Double, _
    ByRef XWEIGHTS As Double, ByRef RINFO As Double, ByRef INFO As Long, ByRef ISTAT As Long)
Public Declare Sub QVXL_DEFAULT_INTERVAL Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef HASUX As Long, ByRef UX As Double, _
    ByRef XMIN As Double, ByRef XMAX As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_READBACK Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef SRES As Double, _
    ByRef WEIGHTING As Long, ByRef STATED As Long, ByRef XSTD As Double, ByRef HASLIM As Long, _
    ByRef LIMITS As Double, ByRef NPTS As Long, ByRef Y As Double, ByRef UYMODE As Long, _
    ByRef UY As Double, ByRef REPL As Double, ByRef LEVEL As Double, ByRef NGRID As Long, _
    ByRef TOL As Double, ByRef EXTRAP As Long, ByRef NROOT As Long, ByRef ROOTS As Double, _
    ByRef UROOTS As Double, ByRef UYUSED As Double, ByRef UYSRC As Long, _
    ByRef UCURVE As Double, ByRef DOF As Double, ByRef K As Double, ByRef U As Double, _
    ByRef LOW As Double, ByRef HIGH As Double, ByRef XEXT As Double, ByRef UXEXT As Double, _
    ByRef FLAGS As Long, ByRef ISTAT As Long)
Public Declare Sub QVXL_SAMPLE_LIMITS Lib "QUORVEXlab1.dll" ( _
    ByRef BLANK As Double, ByRef XD As Double, ByRef LOQ As Double, ByRef LOQDIN As Double, _
    ByRef HASLIM As Long, ByRef LIMITS As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_POWER Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef A As Double, ByRef CA As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_CURVE Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef WHAT As Long, ByRef EXTEND As Long, ByRef NPTS As Long, _
    ByRef X As Double, ByRef Y As Double, ByRef DY As Double, ByRef U As Double, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_BAND Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef LEVEL As Double, _
    ByRef KIND As Long, ByRef NPTS As Long, ByRef X As Double, ByRef RSD As Double, _
    ByRef Y As Double, ByRef U As Double, ByRef LOWER As Double, ByRef UPPER As Double, _
    ByRef K As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_RESPONSE_SD Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef WEIGHTING As Long, ByRef NSTD As Long, _
    ByRef USTD As Double, ByRef COVKIND As Long, ByRef SRES As Double, ByRef SD As Double, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_VERDICT Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef KIND As Long, ByRef COVKIND As Long, ByRef NDOF As Long, _
    ByRef SRES As Double, ByRef CHI2 As Double, ByRef STATED As Long, ByRef NPTS As Long, _
    ByRef X As Double, ByRef Y As Double, ByRef W As Double, ByRef WRES As Double, _
    ByRef WRESX As Double, ByRef CRIT As Double, ByRef WARNONLY As Long, ByRef APPLIES As Long, _
    ByRef STATV As Double, ByRef PLIM As Double, ByRef ALPHA As Double, ByRef RESULT As Long, _
    ByRef DETAIL As Long, ByRef OVERALL As Long, ByRef REASONS As Long, ByRef ISTAT As Long)
Public Declare Sub QVXL_DEFAULT_CRITERIA Lib "QUORVEXlab1.dll" ( _
    ByRef CRIT As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_LIMITS Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef SRES As Double, _
    ByRef WEIGHTING As Long, ByRef NSTD As Long, ByRef XSTD As Double, ByRef WSTD As Double, _
    ByRef STATED As Long, ByRef UYSTD As Double, ByRef ALPHA As Double, ByRef BETA As Double, _
    ByRef BLANK As Double, ByRef REPL As Long, ByRef HASUB As Long, ByRef UBLANK As Double, _
    ByRef KLOQ As Double, ByRef LIM As Double, ByRef SOURCE As Long, ByRef EXTRAP As Long, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_TEXT Lib "QUORVEXlab1.dll" ( _
    ByRef KIND As Long, ByRef CODE As Long, ByRef TEXT As Byte, ByRef LENGTH As Long, _
    ByRef NEEDED As Long, ByRef ISTAT As Long)
Public Declare Sub QVXL_VARIANCE_FIT Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef MODEL As Long, _
    ByRef ALPHA As Double, ByRef CHOSEN As Long, ByRef PAR As Double, ByRef PCOV As Double, _
    ByRef LOGLIK As Double, ByRef TEST As Double, ByRef NDOF As Long, ByRef SD As Double, _
    ByRef MU As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_VARIANCE_FIT_RESIDUALS Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef NCOEF As Long, _
    ByRef MODEL As Long, ByRef ALPHA As Double, ByRef CHOSEN As Long, ByRef PAR As Double, _
    ByRef PCOV As Double, ByRef LOGLIK As Double, ByRef TEST As Double, ByRef NDOF As Long, _
    ByRef SD As Double, ByRef MU As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_VARIANCE_AT Lib "QUORVEXlab1.dll" ( _
    ByRef MODEL As Long, ByRef PAR As Double, ByRef PCOV As Double, ByRef NPTS As Long, _
    ByRef X As Double, ByRef MU As Double, ByRef SD As Double, ByRef DOF As Double, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_VARIANCE_READBACK Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef MODEL As Long, ByRef PAR As Double, ByRef PCOV As Double, _
    ByRef NSTD As Long, ByRef XSTD As Double, ByRef MUSTD As Double, ByRef XRANGE As Double, _
    ByRef HASLIM As Long, ByRef LIMITS As Double, ByRef NPTS As Long, ByRef Y As Double, _
    ByRef REPL As Double, ByRef LEVEL As Double, ByRef NGRID As Long, ByRef TOL As Double, _
    ByRef NROOT As Long, ByRef ROOTS As Double, ByRef UROOTS As Double, _
    ByRef UYUSED As Double, ByRef UYSRC As Long, ByRef UCURVE As Double, ByRef DOF As Double, _
    ByRef K As Double, ByRef U As Double, ByRef LOW As Double, ByRef HIGH As Double, _
    ByRef XEXT As Double, ByRef UXEXT As Double, ByRef FLAGS As Long, ByRef ISTAT As Long)
Public Declare Sub QVXL_BLANK_SCATTER Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef Y As Double, ByRef SD As Double, ByRef DOF As Double, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_RESPONSE_WEIGHTS Lib "QUORVEXlab1.dll" ( _
    ByRef KIND As Long, ByRef NPTS As Long, ByRef V As Double, ByRef UREL As Double, _
    ByRef ISTAT As Long)
Private Declare Function LoadLibraryW Lib "kernel32" ( _
    ByVal lpLibFileName As Long) As Long
Private Declare Function GetModuleHandleW Lib "kernel32" ( _
    ByVal lpModuleName As Long) As Long
Private Declare Function GetFileAttributesW Lib "kernel32" ( _
    ByVal lpFileName As Long) As Long
#End If

' The fit of correlated standards (QVX_CORRELATED, at the end of the module).
' VBA takes Declare and Type statements only here, before the first procedure.
#If VBA7 Then
Public Declare PtrSafe Sub QVXL_GGM_FIT Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef V As Double, _
    ByRef NCOEF As Long, ByRef DEFAULTS As Long, ByRef INTERVAL As Double, ByRef TOL As Double, _
    ByRef MAXIT As Long, ByRef COEF As Double, ByRef COV As Double, ByRef CHI2 As Double, _
    ByRef NDOF As Long, ByRef XADJ As Double, ByRef FITTED As Double, ByRef GAIN As Double, _
    ByRef INFO As Long, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_GGM_COMPONENTS Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef NSRC As Long, ByRef UXIND As Double, ByRef UYIND As Double, _
    ByRef UXSRC As Double, ByRef UYSRC As Double, ByRef ADD As Long, ByRef V As Double, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_GGM_DILUTION Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef PARENT As Long, ByRef REL As Double, _
    ByRef RSTOCK As Double, ByRef ADD As Long, ByRef V As Double, ByRef IBAD As Long, _
    ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_GGM_INVERSE Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef NSTD As Long, ByRef GAIN As Double, ByRef M As Long, _
    ByRef YS As Double, ByRef VS As Double, ByRef SHARED As Long, ByRef CZS As Double, _
    ByRef X As Double, ByRef COVX As Double, ByRef UX As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_GGM_SHARED Lib "QUORVEXlab1.dll" ( _
    ByRef NSTD As Long, ByRef M As Long, ByRef NSRC As Long, ByRef USTD As Double, _
    ByRef USMP As Double, ByRef UYIND As Double, ByRef VS As Double, ByRef CZS As Double, _
    ByRef ISTAT As Long)
#Else
Public Declare Sub QVXL_GGM_FIT Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef Y As Double, ByRef V As Double, _
    ByRef NCOEF As Long, ByRef DEFAULTS As Long, ByRef INTERVAL As Double, ByRef TOL As Double, _
    ByRef MAXIT As Long, ByRef COEF As Double, ByRef COV As Double, ByRef CHI2 As Double, _
    ByRef NDOF As Long, ByRef XADJ As Double, ByRef FITTED As Double, ByRef GAIN As Double, _
    ByRef INFO As Long, ByRef ISTAT As Long)
Public Declare Sub QVXL_GGM_COMPONENTS Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef NSRC As Long, ByRef UXIND As Double, ByRef UYIND As Double, _
    ByRef UXSRC As Double, ByRef UYSRC As Double, ByRef ADD As Long, ByRef V As Double, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_GGM_DILUTION Lib "QUORVEXlab1.dll" ( _
    ByRef NPTS As Long, ByRef X As Double, ByRef PARENT As Long, ByRef REL As Double, _
    ByRef RSTOCK As Double, ByRef ADD As Long, ByRef V As Double, ByRef IBAD As Long, _
    ByRef ISTAT As Long)
Public Declare Sub QVXL_GGM_INVERSE Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef NSTD As Long, ByRef GAIN As Double, ByRef M As Long, _
    ByRef YS As Double, ByRef VS As Double, ByRef SHARED As Long, ByRef CZS As Double, _
    ByRef X As Double, ByRef COVX As Double, ByRef UX As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_GGM_SHARED Lib "QUORVEXlab1.dll" ( _
    ByRef NSTD As Long, ByRef M As Long, ByRef NSRC As Long, ByRef USTD As Double, _
    ByRef USMP As Double, ByRef UYIND As Double, ByRef VS As Double, ByRef CZS As Double, _
    ByRef ISTAT As Long)
#End If

' One fit of correlated standards, as QVX_CORRELATED keeps it.
Private Type GgmResult
    coef() As Double
    cov() As Double
    gain() As Double
    interval(1 To 2) As Double
    ok As Boolean
End Type

Private Const DLL_NAME As String = "QUORVEXv1.dll"
Private Const LAB_DLL_NAME As String = "QUORVEXlab1.dll"
' The root search's grid and the coverage probability, as the Python
' package passes them by default.
Private Const IPVAL_GRID As Long = 100
Private Const READ_LEVEL As Double = 0.95
' The level of the likelihood-ratio test that chooses a variance model
' ("auto"), as the Python package's default.
Private Const VARIANCE_ALPHA As Double = 0.05
' The worked macro owns the columns I to AJ of its sheet (9 to 36): it
' clears them from row 1 down before it writes.
Private Const OUT_FIRST_COL As Long = 9
Private Const OUT_LAST_COL As Long = 36
' Where the macro writes: the Chebyshev record, the power form, the samples
' (10 columns), the verdict block (6 columns), the detection limits (2).
Private Const COL_RECORD As Long = 9
Private Const COL_POWER As Long = 13
Private Const COL_SAMPLES As Long = 17
Private Const COL_VERDICT As Long = 28
Private Const COL_LIMITS As Long = 35
' The fit block's first columns: a label and the values after it.
Private Const BLOCK_MIN_COLS As Long = 8
' The first cell of a block of QVX_LIMITS, which QVX_READ recognises.
Private Const LIMITS_TITLE As String = "quorvex limits: blank at x ="

' A fitted curve, as a fit block holds it.
Private Type QvxFit
    ncoef As Long
    routine As String          ' "OLSPFIT" or "GLSPFIT"
    weighting As Long          ' 0 none, 1 "1/x", 2 "1/x2"
    xmin As Double
    xmax As Double
    xlo As Double              ' the lowest and the highest fitted standard
    xhi As Double
    sres As Double
    chi2 As Double
    dof As Long
    scaled As Boolean          ' the covariance the uncertainties use is the scaled one
    stated As Boolean          ' the standards carried stated u(y)
    coef() As Double           ' (1 To ncoef)
    cov() As Double            ' (1 To ncoef, 1 To ncoef), the one uncertainties use
    covu() As Double           ' the unscaled covariance, as the fit gave it
    nstd As Long               ' standards, fitted and left out
    kept() As Boolean          ' (1 To nstd)
    sx() As Double
    sy() As Double
    suy() As Double            ' stated u(y); NaN without
    sw() As Double             ' the weight the fit gave it
    swres() As Double          ' its weighted residual
    swresx() As Double         ' its weighted x residual (errors in variables)
    reason() As String         ' why it was left out ("" fitted)
    wname As String            ' where the weights came from: none, 1/x, 1/x2 (presets the
                               ' library applies), 1/y, 1/y2, weights (relative u(y) the
                               ' fit took), variance (a variance model's sigma)
    vmodel As Long             ' the variance model 0 to 3 (constant, proportional, floor,
                               ' power of the mean); -1 without
    vpar(1 To 2) As Double     ' its a, b
    vpcov(1 To 4) As Double    ' the covariance of its parameters, column by column
    vdof As Long               ' its degrees of freedom and groups (or standards)
    vgroups As Long
    vsource As String          ' "replicates" or "residuals"
    smu() As Double            ' (1 To nstd) a standard's mean response under the model
End Type

' One response read back by QVXL_READBACK.
Private Type QvxReading
    uy As Double
    source As String
    nroot As Long
    roots() As Double          ' (1 To max(ncoef - 1, 1)), NaN beyond nroot
    uroots() As Double
    dof As Double
    k As Double
    u As Double
    low As Double
    high As Double
    xext As Double
    uxext As Double
    flags As Long
    flagText As String
End Type

' A Double and its two halves, to tell a number from NaN and infinity.
Private Type DoubleBits
    d As Double
End Type
Private Type LongPair
    lo As Long
    hi As Long
End Type

' Why a worksheet function failed: by the address of the calling cell, and
' the latest one.
Private mMessages As Object
Private mLastMessage As String
' Loading: done once; the paths tried when it failed.
Private mLoaded As Boolean
Private mLoadReport As String

' ---------------------------------------------------------------- loading

' Loads QUORVEXv1.dll and QUORVEXlab1.dll (see the search order at the
' top), once; the declarations above then use them.  Shows the list of paths
' tried and returns False when one does not load.  For macros: worksheet functions report
' the same through =QVX_ERROR() (and so does this one, used in a cell).
Public Function QuorvexLoad() As Boolean
    Dim why As String
    If LoadDll(why) Then
        QuorvexLoad = True
    ElseIf Len(CallerKey()) > 0 Then
        mLastMessage = why
    Else
        MsgBox why, vbCritical, "quorvex"
    End If
End Function

' The folders QuorvexLoad searches, in order, one per line: for the
' documentation of a workbook, or to see why a copy of the DLL is not used.
Public Function QuorvexSearchPath() As String
    Dim folders As Collection, f As Variant, s As String
    Set folders = SearchFolders(s)
    s = ""
    For Each f In folders
        s = s & f & vbLf
    Next f
    QuorvexSearchPath = s
End Function

Private Function LoadDll(ByRef why As String) As Boolean
    If mLoaded Then
        LoadDll = True
        Exit Function
    End If
    If Not LoadOne(DLL_NAME, why) Then Exit Function
    If Not LoadOne(LAB_DLL_NAME, why) Then Exit Function
    mLoaded = True
    mLoadReport = ""
    LoadDll = True
End Function

' One of the two DLLs: already loaded, or the first candidate that loads.
Private Function LoadOne(ByVal dllName As String, ByRef why As String) As Boolean
    Dim folders As Collection, f As Variant, c As Variant, candidates As Collection
    Dim tried As String, notes As String, reason As String
    ' Loaded already, by another workbook or an earlier session of this one.
    If GetModuleHandleW(StrPtr(dllName)) <> 0 Then
        LoadOne = True
        Exit Function
    End If
    Set folders = SearchFolders(notes)
    tried = ""
    For Each f In folders
        Set candidates = New Collection
        candidates.Add JoinPath(f, dllName)
        candidates.Add JoinPath(JoinPath(f, HostFolder()), dllName)
        For Each c In candidates
            If TryLoad(CStr(c), reason) Then
                LoadOne = True
                Exit Function
            End If
            tried = tried & "  " & c & ": " & reason & vbLf
        Next c
    Next f
    If Len(tried) = 0 Then tried = "  (no folder to search)" & vbLf
    mLoadReport = "Cannot load " & dllName & " for this " & HostBits() & _
        "-bit Excel.  Paths tried, in order:" & vbLf & tried & notes & _
        "Put the " & HostBits() & "-bit " & dllName & " (folder " & HostFolder() & _
        " of the zip) next to the workbook, or name its folder QUORVEX_PATH."
    why = mLoadReport
End Function

' One candidate: loads it, or says why not.
Private Function TryLoad(ByVal path As String, ByRef reason As String) As Boolean
    Dim code As Long
    If GetFileAttributesW(StrPtr(path)) = -1 Then
        reason = "not found"
        Exit Function
    End If
    If LoadLibraryW(StrPtr(path)) <> 0 Then
        TryLoad = True
        Exit Function
    End If
    code = Err.LastDllError
    Select Case code
    Case 193, 216
        ' Not an image this process can map: the other bitness, or no DLL.
        Select Case PeMachine(path)
        Case OtherMachine()
            reason = "wrong bitness (a DLL for " & OtherBits() & "-bit Excel; this one is " & _
                HostBits() & "-bit)"
        Case HostMachine()
            reason = "Windows cannot load it (error " & code & "): the file may be damaged"
        Case Else
            reason = "not a Windows DLL (error " & code & "): the file may be damaged or " & _
                "only partly copied"
        End Select
    Case 126
        reason = "a DLL it depends on is missing (it needs only Windows' own DLLs: " & _
            "the file may be damaged)"
    Case 5
        reason = "access denied (unblock the zip file before extracting it, or check the " & _
            "folder's permissions)"
    Case Else
        reason = "Windows error " & code
    End Select
End Function

' The folders to search, in order; `notes` lists those left out and why.
Private Function SearchFolders(ByRef notes As String) As Collection
    Dim folders As New Collection, p As String
    notes = ""
    AddNamedPath folders, ThisWorkbook, notes
    If Not ActiveWorkbook Is Nothing Then
        If Not ActiveWorkbook Is ThisWorkbook Then AddNamedPath folders, ActiveWorkbook, notes
    End If
    AddWorkbookFolder folders, ThisWorkbook, notes
    If Not ActiveWorkbook Is Nothing Then
        If Not ActiveWorkbook Is ThisWorkbook Then AddWorkbookFolder folders, ActiveWorkbook, notes
    End If
    On Error Resume Next
    p = Application.UserLibraryPath
    On Error GoTo 0
    If Len(p) > 0 Then AddFolder folders, p
    Set SearchFolders = folders
End Function

' The name QUORVEX_PATH of a workbook: a folder, or the DLL's full path (then
' its folder is searched, and the file itself first).
Private Sub AddNamedPath(ByVal folders As Collection, ByVal wb As Workbook, ByRef notes As String)
    Dim v As Variant, s As String
    On Error GoTo absent
    v = Application.Evaluate(wb.Names("QUORVEX_PATH").RefersTo)
    On Error GoTo 0
    If IsObject(v) Then v = v.Value
    If IsError(v) Or IsArray(v) Then
        notes = notes & "  (QUORVEX_PATH of " & wb.Name & " is not one text value)" & vbLf
        Exit Sub
    End If
    s = Trim$(CStr(v))
    If Len(s) = 0 Then
        notes = notes & "  (QUORVEX_PATH of " & wb.Name & " is empty)" & vbLf
    ElseIf LCase$(Right$(s, 4)) = ".dll" Then
        If InStrRev(s, "\") > 1 Then
            AddFolder folders, Left$(s, InStrRev(s, "\") - 1)
        Else
            notes = notes & "  (QUORVEX_PATH of " & wb.Name & " is not a full path: " & s & ")" & vbLf
        End If
    Else
        AddFolder folders, s
    End If
    Exit Sub
absent:
End Sub

' A workbook's folder, when it is one: an unsaved workbook has none, and a
' file synchronised to the cloud has a web address.
Private Sub AddWorkbookFolder(ByVal folders As Collection, ByVal wb As Workbook, ByRef notes As String)
    Dim p As String
    p = wb.Path
    If Len(p) = 0 Then
        notes = notes & "  (" & wb.Name & " is not saved yet: no folder of its own)" & vbLf
    ElseIf InStr(p, "://") > 0 Then
        notes = notes & "  (" & wb.Name & " lies at a web address, " & p & _
            ": copy the DLL into a local folder)" & vbLf
    Else
        AddFolder folders, p
    End If
End Sub

Private Sub AddFolder(ByVal folders As Collection, ByVal p As String)
    Dim f As Variant
    If Right$(p, 1) = "\" And Len(p) > 3 Then p = Left$(p, Len(p) - 1)
    For Each f In folders
        If StrComp(f, p, vbTextCompare) = 0 Then Exit Sub
    Next f
    folders.Add p
End Sub

Private Function JoinPath(ByVal folder As String, ByVal name As String) As String
    If Right$(folder, 1) = "\" Then
        JoinPath = folder & name
    Else
        JoinPath = folder & "\" & name
    End If
End Function

Private Function HostBits() As String
#If Win64 Then
    HostBits = "64"
#Else
    HostBits = "32"
#End If
End Function

Private Function OtherBits() As String
#If Win64 Then
    OtherBits = "32"
#Else
    OtherBits = "64"
#End If
End Function

' The machine a Windows image is built for (&H14C 32-bit x86, &H8664
' 64-bit x64), read from its headers; 0 when the file is no such image or
' cannot be read.
Private Function PeMachine(ByVal path As String) As Long
    Dim fh As Integer, mz As Integer, peAt As Long, sig As Long, machine As Integer
    On Error GoTo done
    fh = FreeFile
    Open path For Binary Access Read Shared As #fh
    Get #fh, 1, mz
    If mz = &H5A4D Then
        Get #fh, &H3C + 1, peAt
        If peAt > 0 And peAt < LOF(fh) - 6 Then
            Get #fh, peAt + 1, sig
            If sig = &H4550& Then
                Get #fh, peAt + 5, machine
                PeMachine = CLng(machine) And &HFFFF&
            End If
        End If
    End If
done:
    On Error Resume Next
    If fh <> 0 Then Close #fh
End Function

Private Function HostMachine() As Long
#If Win64 Then
    HostMachine = &H8664&
#Else
    HostMachine = &H14C&
#End If
End Function

Private Function OtherMachine() As Long
#If Win64 Then
    OtherMachine = &H14C&
#Else
    OtherMachine = &H8664&
#End If
End Function

' The zip's folder of the DLL for this Excel.
Private Function HostFolder() As String
    HostFolder = HostBits() & "-bit"
End Function

' ------------------------------------------------------ worksheet functions

' The fit block of the standards (see the top of the module).
Public Function QVX_FIT(ByVal x As Variant, ByVal y As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal u_x As Variant, Optional ByVal degree As Variant, _
        Optional ByVal weighting As Variant, Optional ByVal exclude As Variant, _
        Optional ByVal covariance As Variant, Optional ByVal weights As Variant) As Variant
    Dim f As QvxFit, msg As String, code As Long
    On Error GoTo unexpected
    If Not FitFromRanges(x, y, u_y, u_x, degree, weighting, exclude, covariance, weights, f, _
            msg, code) Then
        QVX_FIT = Fail(code, "QVX_FIT: " & msg)
        Exit Function
    End If
    QVX_FIT = Finish(FitBlock(f), "QVX_FIT")
    Exit Function
unexpected:
    QVX_FIT = Fail(xlErrValue, "QVX_FIT: " & Err.Description)
End Function

' One sample read back: x, u(x), U, k, dof, low, high, u(y), its source, the
' flags (one row).
Public Function QVX_READ(ByVal y As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal fit As Variant, Optional ByVal readings As Variant, _
        Optional ByVal level As Variant, Optional ByVal limits As Variant, _
        Optional ByVal u_y_relative As Variant) As Variant
    Dim f As QvxFit, r As QvxReading, msg As String, code As Long, out(1 To 1, 1 To 10) As Variant
    On Error GoTo unexpected
    If Not ReadCell(y, u_y, fit, readings, level, limits, u_y_relative, f, r, msg, code) Then
        QVX_READ = Fail(code, "QVX_READ: " & msg)
        Exit Function
    End If
    out(1, 1) = ToCell(r.roots(1)): out(1, 2) = ToCell(r.uroots(1))
    out(1, 3) = ToCell(r.u): out(1, 4) = ToCell(r.k): out(1, 5) = ToCell(r.dof)
    out(1, 6) = ToCell(r.low): out(1, 7) = ToCell(r.high)
    out(1, 8) = ToCell(r.uy): out(1, 9) = r.source: out(1, 10) = r.flagText
    QVX_READ = Finish(out, "QVX_READ")
    Exit Function
unexpected:
    QVX_READ = Fail(xlErrValue, "QVX_READ: " & Err.Description)
End Function

' The labels of QVX_READ's row.
Public Function QVX_READ_LABELS() As Variant
    QVX_READ_LABELS = Finish(ReadLabels(), "QVX_READ_LABELS")
End Function

Private Function ReadLabels() As Variant
    Dim out(1 To 1, 1 To 10) As Variant, names As Variant, k As Long
    names = Array("x", "u(x)", "U", "k", "dof", "low", "high", "u(y)", "u(y) from", "flags")
    For k = 1 To 10
        out(1, k) = names(k - 1)
    Next k
    ReadLabels = out
End Function

' x of the response y on the curve of a fit block.
Public Function QVX_X(ByVal y As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal fit As Variant, Optional ByVal readings As Variant, Optional ByVal root As Variant) As Variant
    QVX_X = InverseCell(y, u_y, fit, readings, root, 1, "QVX_X")
End Function

' Standard uncertainty u(x) of that x.
Public Function QVX_UX(ByVal y As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal fit As Variant, Optional ByVal readings As Variant, Optional ByVal root As Variant) As Variant
    QVX_UX = InverseCell(y, u_y, fit, readings, root, 2, "QVX_UX")
End Function

' The u(y) QVX_X and QVX_UX use for these arguments.
Public Function QVX_UY(ByVal y As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal fit As Variant, Optional ByVal readings As Variant) As Variant
    QVX_UY = InverseCell(y, u_y, fit, readings, Empty, 3, "QVX_UY")
End Function

' The verdict block: is the calibration fit for use.
Public Function QVX_VERDICT(ByVal fit As Variant, Optional ByVal alpha As Variant, _
        Optional ByVal warn_only As Variant) As Variant
    Dim f As QvxFit, msg As String, code As Long, out As Variant, overall As Long
    On Error GoTo unexpected
    code = xlErrValue
    If ReadFit(fit, f, msg) Then
        If VerdictBlock(f, alpha, warn_only, out, overall, msg, code) Then
            QVX_VERDICT = Finish(out, "QVX_VERDICT")
            Exit Function
        End If
    End If
    QVX_VERDICT = Fail(code, "QVX_VERDICT: " & msg)
    Exit Function
unexpected:
    QVX_VERDICT = Fail(xlErrValue, "QVX_VERDICT: " & Err.Description)
End Function

' The detection and quantification limits, named by their definition.
Public Function QVX_LIMITS(ByVal fit As Variant, Optional ByVal blank As Variant, _
        Optional ByVal alpha As Variant, Optional ByVal beta As Variant, _
        Optional ByVal replicates As Variant, Optional ByVal u_blank As Variant, _
        Optional ByVal k_loq As Variant, Optional ByVal blank_readings As Variant) As Variant
    Dim f As QvxFit, msg As String, code As Long, out As Variant
    On Error GoTo unexpected
    code = xlErrValue
    If ReadFit(fit, f, msg) Then
        If LimitsBlock(f, blank, alpha, beta, replicates, u_blank, k_loq, blank_readings, out, _
                msg, code) Then
            QVX_LIMITS = Finish(out, "QVX_LIMITS")
            Exit Function
        End If
    End If
    QVX_LIMITS = Fail(code, "QVX_LIMITS: " & msg)
    Exit Function
unexpected:
    QVX_LIMITS = Fail(xlErrValue, "QVX_LIMITS: " & Err.Description)
End Function

' The curve at x with its confidence or prediction band: y, u, lower, upper, k.
Public Function QVX_BAND(ByVal x As Variant, ByVal fit As Variant, Optional ByVal level As Variant, _
        Optional ByVal kind As Variant, Optional ByVal u_y As Variant) As Variant
    Dim f As QvxFit, msg As String, code As Long, out As Variant
    On Error GoTo unexpected
    code = xlErrValue
    If ReadFit(fit, f, msg) Then
        If BandRow(f, x, level, kind, u_y, out, msg, code) Then
            QVX_BAND = Finish(out, "QVX_BAND")
            Exit Function
        End If
    End If
    QVX_BAND = Fail(code, "QVX_BAND: " & msg)
    Exit Function
unexpected:
    QVX_BAND = Fail(xlErrValue, "QVX_BAND: " & Err.Description)
End Function

' The curve's response at x.
Public Function QVX_Y(ByVal x As Variant, ByVal fit As Variant) As Variant
    Dim f As QvxFit, msg As String, xv As Double, yv As Double, code As Long
    On Error GoTo unexpected
    code = xlErrValue
    If ReadFit(fit, f, msg) Then
        If OneNumber(x, "x", xv, msg) Then
            If CurveAt(f, xv, yv, msg, code) Then
                QVX_Y = yv
                Succeed
                Exit Function
            End If
        End If
    End If
    QVX_Y = Fail(code, "QVX_Y: " & msg)
    Exit Function
unexpected:
    QVX_Y = Fail(xlErrValue, "QVX_Y: " & Err.Description)
End Function

' Intercept and slope of a straight-line fit with their standard
' uncertainties: {"intercept", b, u(b); "slope", m, u(m)} (LINEAR_CONV).
Public Function QVX_LINE(ByVal fit As Variant) As Variant
    Dim f As QvxFit, msg As String, a() As Double, ca() As Double, code As Long
    On Error GoTo unexpected
    code = xlErrValue
    If ReadFit(fit, f, msg) Then
        If LineForm(f, a, ca, msg, code) Then
            QVX_LINE = Finish(PowerTable(a, ca, 2), "QVX_LINE")
            Exit Function
        End If
    End If
    QVX_LINE = Fail(code, "QVX_LINE: " & msg)
    Exit Function
unexpected:
    QVX_LINE = Fail(xlErrValue, "QVX_LINE: " & Err.Description)
End Function

' The curve in powers of x with standard uncertainties: one row per power,
' {"intercept", a0, u(a0); "slope", a1, u(a1); "x^2", a2, u(a2); ...}.
' For a high degree on an interval far from zero these are large numbers
' of opposite signs: report them, but compute with the fit block.
Public Function QVX_POWER(ByVal fit As Variant) As Variant
    Dim f As QvxFit, msg As String, a() As Double, ca() As Double, code As Long
    On Error GoTo unexpected
    code = xlErrValue
    If ReadFit(fit, f, msg) Then
        If PowerForm(f, a, ca, msg, code) Then
            QVX_POWER = Finish(PowerTable(a, ca, f.ncoef), "QVX_POWER")
            Exit Function
        End If
    End If
    QVX_POWER = Fail(code, "QVX_POWER: " & msg)
    Exit Function
unexpected:
    QVX_POWER = Fail(xlErrValue, "QVX_POWER: " & Err.Description)
End Function

' Why the formula in `cell` returned an error ("" when it did not); without
' a cell, the reason of the latest failure of any quorvex function.
Public Function QVX_ERROR(Optional ByVal cell As Variant) As Variant
    Dim key As String
    On Error GoTo unexpected
    If IsMissing(cell) Then
        Application.Volatile True
        QVX_ERROR = mLastMessage
        Exit Function
    End If
    If TypeName(cell) <> "Range" Then
        QVX_ERROR = "QVX_ERROR takes a cell"
        Exit Function
    End If
    If cell.Cells(1, 1).HasArray Then
        key = cell.Cells(1, 1).CurrentArray.Cells(1, 1).Address(External:=True)
    Else
        key = cell.Cells(1, 1).Address(External:=True)
    End If
    QVX_ERROR = ""
    If Not mMessages Is Nothing Then
        If mMessages.Exists(key) Then QVX_ERROR = mMessages(key)
    End If
    Exit Function
unexpected:
    QVX_ERROR = "QVX_ERROR: " & Err.Description
End Function

' A block result shaped for the calling range, or the error why not.
Private Function Finish(ByVal block As Variant, ByVal fname As String) As Variant
    Dim msg As String
    Finish = Shaped(block, msg)
    If Len(msg) > 0 Then Finish = Fail(xlErrValue, fname & ": " & msg) Else Succeed
End Function

' QVX_X (what = 1), QVX_UX (2) and QVX_UY (3).
Private Function InverseCell(ByVal y As Variant, ByVal u_y As Variant, ByVal fit As Variant, _
        ByVal readings As Variant, ByVal root As Variant, ByVal what As Long, _
        ByVal fname As String) As Variant
    Dim f As QvxFit, r As QvxReading, msg As String, code As Long, pick As Double, which As Long
    On Error GoTo unexpected
    If Not ReadCell(y, u_y, fit, readings, Empty, Empty, Empty, f, r, msg, code) Then
        InverseCell = Fail(code, fname & ": " & msg)
        Exit Function
    End If
    If what = 3 Then
        InverseCell = r.uy
        Succeed
        Exit Function
    End If
    which = 0
    If Given(root) Then
        If Not OneNumber(root, "root", pick, msg) Then
            InverseCell = Fail(xlErrValue, fname & ": " & msg)
            Exit Function
        End If
        If pick <> Int(pick) Or pick < 1 Or pick > UBound(r.roots) Then
            InverseCell = Fail(xlErrValue, fname & ": root must be a whole number from 1 to " & _
                UBound(r.roots))
            Exit Function
        End If
        which = CLng(pick)
    End If
    If r.nroot = 0 Then
        InverseCell = Fail(xlErrNum, fname & ": " & r.flagText)
        Exit Function
    End If
    If which = 0 Then
        If r.nroot > 1 Then
            InverseCell = Fail(xlErrNum, fname & ": " & r.flagText & _
                "; choose one with the argument root (1 = smallest)")
            Exit Function
        End If
        which = 1
    ElseIf which > r.nroot Then
        InverseCell = Fail(xlErrNum, fname & ": the curve reaches the response at " & r.nroot & _
            " x value(s), not " & which)
        Exit Function
    End If
    If what = 1 Then InverseCell = ToCell(r.roots(which)) Else InverseCell = ToCell(r.uroots(which))
    Succeed
    Exit Function
unexpected:
    InverseCell = Fail(xlErrValue, fname & ": " & Err.Description)
End Function

' The arguments of a reading, checked and converted, and the reading.
Private Function ReadCell(ByVal y As Variant, ByVal u_y As Variant, ByVal fit As Variant, _
        ByVal readings As Variant, ByVal level As Variant, ByVal limits As Variant, _
        ByVal u_y_relative As Variant, ByRef f As QvxFit, ByRef r As QvxReading, _
        ByRef msg As String, ByRef code As Long) As Boolean
    Dim yv As Double, mode As Long, uyv As Double, m As Double, lv As Double
    Dim haslim As Long, lims(1 To 2) As Double
    code = xlErrValue
    If Not ReadFit(fit, f, msg) Then Exit Function
    If Not OneNumber(y, "y", yv, msg) Then Exit Function
    If Not ResponseArgs(u_y, readings, mode, uyv, m, msg) Then Exit Function
    If Given(u_y_relative) Then
        ' Relative stated u(y) on the standards (1/y, 1/y2, a weight column, or
        ' stated u(y) with the covariance scaled): the sample's on their scale.
        If Not (mode = 1 And f.stated And f.scaled And f.vmodel < 0) Then
            msg = "u_y_relative applies where the standards carry relative u(y) (1/y, 1/y2, " & _
                "weights, or the covariance scaled) and u_y is left out"
            Exit Function
        End If
        If Not OneNumber(u_y_relative, "u_y_relative", uyv, msg) Then Exit Function
        If Not (uyv > 0 And Finite(uyv)) Then
            msg = "u_y_relative must be positive and finite"
            Exit Function
        End If
    ElseIf mode = 1 And f.stated And f.scaled And f.vmodel < 0 Then
        msg = "the standards carry relative u(y), so a sample's u(y) is not known from their " & _
            "scatter: give u_y, or its relative u(y) on the standards' scale (u_y_relative)"
        Exit Function
    End If
    lv = READ_LEVEL
    If Given(level) Then
        If Not OneNumber(level, "level", lv, msg) Then Exit Function
    End If
    If Not LoadDll(msg) Then Exit Function
    If Given(limits) Then
        If Not SampleLimits(limits, haslim, lims, msg) Then Exit Function
    End If
    ReadCell = ReadBack(f, yv, mode, uyv, m, lv, haslim, lims, r, msg, code)
End Function

' ------------------------------------------------- calls of the library

' Reads the standards and the options, then fits.  code: the error value to
' return (#VALUE! for input, #NUM! for a fit that fails).
Private Function FitFromRanges(ByVal x As Variant, ByVal y As Variant, ByVal u_y As Variant, _
        ByVal u_x As Variant, ByVal degree As Variant, ByVal weighting As Variant, _
        ByVal exclude As Variant, ByVal covariance As Variant, ByVal weights As Variant, _
        ByRef f As QvxFit, ByRef msg As String, ByRef code As Long) As Boolean
    Dim xs() As Double, ys() As Double, uys() As Double, uxs() As Double, why() As String
    Dim n As Long, m As Long, d As Double, ncoef As Long, wcode As Long, covkind As Long
    Dim wsrc As Long, vreq As Long, ws() As Double, haveUy As Boolean
    code = xlErrValue
    If Not Numbers(x, "x", xs, n, msg) Then Exit Function
    If Not Numbers(y, "y", ys, m, msg) Then Exit Function
    If m <> n Then
        msg = "x has " & n & " values and y " & m & ": give one y per x"
        Exit Function
    End If
    d = 1
    If Given(degree) Then
        If Not OneNumber(degree, "degree", d, msg) Then Exit Function
    End If
    If d <> Int(d) Then
        msg = "degree must be a whole number, not " & d
        Exit Function
    End If
    ' The library says which degrees it fits; a number too large for a Long
    ' is passed as 0 coefficients, which it refuses.
    If Abs(d) < 1000 Then ncoef = CLng(d) + 1 Else ncoef = 0
    If Given(u_y) Then
        If Not PerStandard(u_y, "u_y", n, uys, msg) Then Exit Function
    End If
    If Given(u_x) Then
        If Not PerStandard(u_x, "u_x", n, uxs, msg) Then Exit Function
    End If
    If Not WeightingCode(weighting, wcode, wsrc, vreq, msg) Then Exit Function
    If vreq = -2 Or (wsrc = 3 And Not Given(weights)) Then
        msg = "weighting """ & WeightingName(wcode, wsrc) & """ names a fit block's weights: " & _
            "give a variance model's name, or the weights column"
        Exit Function
    End If
    If Not Reasons(exclude, n, why, msg) Then Exit Function
    If Not CovarianceCode(covariance, covkind, msg) Then Exit Function
    If Given(weights) Then
        If Given(weighting) And Not ((wsrc = 0 And wcode = 0) Or wsrc = 3) Then
            msg = "give one source of weights: u_y (and u_x), a weighting preset, weights, " & _
                "or a variance model"
            Exit Function
        End If
        If Not Numbers(weights, "weights", ws, m, msg) Then Exit Function
        If m <> n Then
            msg = "weights has " & m & " values for " & n & " standards: give one per standard"
            Exit Function
        End If
        wsrc = 3
    End If
    If Not LoadDll(msg) Then Exit Function
    haveUy = Given(u_y)
    If wsrc <> 0 Then
        ' 1/y, 1/y2, a weight column, a variance model: the library turns them
        ' into each fitted standard's u(y), which the fit then takes.
        If Not WeightsAsUy(xs, ys, ws, why, n, ncoef, wsrc, vreq, haveUy Or Given(u_x), _
                covkind, uys, f, msg, code) Then Exit Function
        haveUy = True
    Else
        f.vmodel = -1
    End If
    If Not FitCore(xs, ys, uys, uxs, haveUy, Given(u_x), wcode, why, covkind, n, _
        ncoef, f, msg, code) Then Exit Function
    f.wname = WeightingName(wcode, wsrc)
    If wsrc <> 0 Then
        For m = 1 To n
            If Not f.kept(m) Then f.suy(m) = NaN()
        Next m
    End If
    FitFromRanges = True
End Function

' The fitted standards' u(y) from 1/y (wsrc 1), 1/y2 (2), a weight per
' standard (3, ws) through QVXL_RESPONSE_WEIGHTS, or from a variance model
' (4, vreq -1 chosen, 0 to 3) through QVXL_VARIANCE_FIT -- fitted to the
' replicates, or where there are too few of them to the residuals of the
' curve (QVXL_VARIANCE_FIT_RESIDUALS).  Left-out standards take no part;
' their u(y) is 1.  The variance model goes into f.
Private Function WeightsAsUy(ByRef xs() As Double, ByRef ys() As Double, ByRef ws() As Double, _
        ByRef why() As String, ByVal n As Long, ByVal ncoef As Long, ByVal wsrc As Long, _
        ByVal vreq As Long, ByVal haveU As Boolean, ByRef covkind As Long, ByRef uys() As Double, _
        ByRef f As QvxFit, ByRef msg As String, ByRef code As Long) As Boolean
    Dim nk As Long, i As Long, istatus As Long, kind As Long, xk() As Double, vk() As Double
    Dim urel() As Double, chosen As Long, alpha As Double, loglik(1 To 4) As Double
    Dim test(1 To 2) As Double, ndof(1 To 2) As Long, mu() As Double, yk() As Double
    code = xlErrValue
    If haveU Then
        If wsrc = 4 Then
            msg = "a variance model gives the weights: it cannot be used with u_y or u_x"
        Else
            msg = "give one source of weights: u_y (and u_x), a weighting preset, weights, " & _
                "or a variance model"
        End If
        Exit Function
    End If
    For i = 1 To n
        If Len(why(i)) = 0 Then nk = nk + 1
    Next i
    If nk = 0 Then
        msg = "every standard is left out"
        Exit Function
    End If
    ReDim xk(1 To nk): ReDim yk(1 To nk): ReDim vk(1 To nk): ReDim urel(1 To nk)
    ReDim mu(1 To nk)
    nk = 0
    For i = 1 To n
        If Len(why(i)) = 0 Then
            nk = nk + 1
            xk(nk) = xs(i): yk(nk) = ys(i)
            If wsrc = 3 Then vk(nk) = ws(i) Else vk(nk) = ys(i)
        End If
    Next i
    f.vmodel = -1
    If wsrc <= 3 Then
        If covkind = 0 Then
            msg = "relative weights (1/y, 1/y2, a weight column) take their scale from the " & _
                "residuals: the covariance is ""scaled"""
            Exit Function
        End If
        covkind = 1
        kind = wsrc
        QVXL_RESPONSE_WEIGHTS kind, nk, vk(1), urel(1), istatus
        If istatus <> 0 Then
            msg = WeightingName(0, wsrc) & ": " & LabText(1, istatus)
            Exit Function
        End If
    Else
        alpha = VARIANCE_ALPHA
        If nk < 2 Then
            msg = "a variance model needs standards measured in replicate"
            Exit Function
        End If
        QVXL_VARIANCE_FIT nk, xk(1), yk(1), vreq, alpha, chosen, f.vpar(1), f.vpcov(1), _
            loglik(1), test(1), ndof(1), urel(1), mu(1), istatus
        f.vsource = "replicates"
        If istatus = 100 Then
            ' No replicates (or too few): the residuals tell the scatter.
            QVXL_VARIANCE_FIT_RESIDUALS nk, xk(1), yk(1), ncoef, vreq, alpha, chosen, _
                f.vpar(1), f.vpcov(1), loglik(1), test(1), ndof(1), urel(1), mu(1), istatus
            f.vsource = "residuals"
        End If
        If istatus <> 0 Then
            msg = "variance model: " & LabText(1, istatus)
            If istatus = 1 Then msg = "degree " & (ncoef - 1) & ": " & LabText(1, istatus)
            Exit Function
        End If
        f.vmodel = chosen
        f.vdof = ndof(1): f.vgroups = ndof(2)
    End If
    ReDim uys(1 To n)
    ReDim f.smu(1 To n)
    nk = 0
    For i = 1 To n
        uys(i) = 1
        f.smu(i) = NaN()
        If Len(why(i)) = 0 Then
            nk = nk + 1
            uys(i) = urel(nk)
            If f.vmodel >= 0 Then f.smu(i) = mu(nk)
        End If
    Next i
    WeightsAsUy = True
End Function

' The fit through QVXL_FIT, which chooses everything the data leave open
' (the interval, the errors-in-variables tolerances, which covariance, the
' weights), and the fit block's contents from its outputs.
Private Function FitCore(ByRef xs() As Double, ByRef ys() As Double, ByRef uys() As Double, _
        ByRef uxs() As Double, ByVal haveUy As Boolean, ByVal haveUx As Boolean, _
        ByVal wcode As Long, ByRef why() As String, ByVal covkind As Long, ByVal n As Long, _
        ByVal ncoef As Long, ByRef f As QvxFit, ByRef msg As String, ByRef code As Long) As Boolean
    Dim gvn As Long, keep() As Long, defaults As Long, i As Long, nc As Long, nk As Long
    Dim interval(1 To 2) As Double, tols(1 To 2) As Double, maxit As Long, sigma As Double
    Dim coef() As Double, cov() As Double, covsc() As Double, chi2 As Double, sres As Double
    Dim ndof As Long, istatus As Long, fitted() As Double, res() As Double, wres() As Double
    Dim xadj() As Double, resx() As Double, wresx() As Double, wts() As Double, xwts() As Double
    Dim rinfo(1 To 4) As Double, info(1 To 5) As Long, hasux As Long, one(1 To 1) As Double
    Dim xk() As Double
    code = xlErrValue
    If Not haveUy Then ReDim uys(1 To 1)
    If Not haveUx Then ReDim uxs(1 To 1)
    gvn = IIf(haveUy, 1, 0) + IIf(haveUx, 2, 0)
    ReDim keep(1 To n)
    For i = 1 To n
        keep(i) = IIf(Len(why(i)) = 0, 1, 0)
        nk = nk + keep(i)
    Next i
    nc = IIf(ncoef >= 1 And ncoef <= 10, ncoef, 1)
    ReDim coef(1 To nc): ReDim cov(1 To nc, 1 To nc): ReDim covsc(1 To nc, 1 To nc)
    ReDim fitted(1 To n): ReDim res(1 To n): ReDim wres(1 To n): ReDim xadj(1 To n)
    ReDim resx(1 To n): ReDim wresx(1 To n): ReDim wts(1 To n): ReDim xwts(1 To n)
    QVXL_FIT n, xs(1), ys(1), uys(1), uxs(1), gvn, wcode, keep(1), ncoef, defaults, _
        interval(1), tols(1), maxit, sigma, covkind, coef(1), cov(1, 1), covsc(1, 1), _
        sres, ndof, chi2, fitted(1), res(1), wres(1), xadj(1), resx(1), wresx(1), wts(1), _
        xwts(1), rinfo(1), info(1), istatus
    ' Status 39: SRES^2 overflows, every output but the scaled covariance
    ' written; only a calibration that uses the scaled one is lost.
    If istatus = 39 And covkind = 0 Then istatus = 0
    If istatus <> 0 Then
        msg = FitStatusMessage(istatus, info, nk, ncoef, interval(1), interval(2), haveUx)
        Select Case istatus
        Case 1 To 5, 30 To 35: code = xlErrValue
        Case Else: code = xlErrNum
        End Select
        Exit Function
    End If
    f.ncoef = ncoef
    f.routine = IIf(haveUx, "GLSPFIT", "OLSPFIT")
    f.weighting = wcode
    f.xmin = interval(1): f.xmax = interval(2)
    f.sres = sres: f.chi2 = chi2: f.dof = ndof
    f.scaled = (covkind = 1)
    f.stated = haveUy
    f.coef = coef
    f.covu = cov
    If f.scaled Then f.cov = covsc Else f.cov = cov
    f.nstd = n
    ReDim f.kept(1 To n): ReDim f.sx(1 To n): ReDim f.sy(1 To n): ReDim f.suy(1 To n)
    ReDim f.sw(1 To n): ReDim f.swres(1 To n): ReDim f.swresx(1 To n): ReDim f.reason(1 To n)
    ReDim xk(1 To nk)
    nk = 0
    For i = 1 To n
        f.kept(i) = (keep(i) = 1)
        f.sx(i) = xs(i): f.sy(i) = ys(i)
        If haveUy Then f.suy(i) = uys(i) Else f.suy(i) = NaN()
        f.sw(i) = wts(i): f.swres(i) = wres(i): f.swresx(i) = wresx(i)
        f.reason(i) = why(i)
        If f.kept(i) Then
            nk = nk + 1
            xk(nk) = xs(i)
        End If
    Next i
    ' The fitted standards' range, which the sample flags compare a reading with.
    hasux = 0
    QVXL_DEFAULT_INTERVAL nk, xk(1), hasux, one(1), f.xlo, f.xhi, istatus
    If istatus <> 0 Then
        code = xlErrNum
        msg = "QVXL_DEFAULT_INTERVAL status " & istatus & ": " & LabText(1, istatus)
        Exit Function
    End If
    FitCore = True
End Function

' Why QVXL_FIT refused, in the user's terms: the library's text of its own
' status, and for a refusal of the engine's fit that of the fit's status
' (n: the standards fitted).
Private Function FitStatusMessage(ByVal istatus As Long, ByRef info() As Long, ByVal n As Long, _
        ByVal ncoef As Long, ByVal xmin As Double, ByVal xmax As Double, _
        ByVal eiv As Boolean) As String
    Dim s As String
    Select Case istatus
    Case 1
        s = "degree " & (ncoef - 1) & ": " & LabText(1, istatus)
    Case 3
        s = EngineText(10, 2, n, ncoef, xmin, xmax)
    Case 36
        s = "OLSPFIT status " & info(1) & ": " & EngineText(10, info(1), n, ncoef, xmin, xmax)
        If eiv Then s = "the starting fit: " & s
    Case 37
        s = LabText(1, istatus) & ": GLSPFIT status " & info(2) & ": " & _
            EngineText(11, info(2), n, ncoef, xmin, xmax)
    Case 38
        If info(2) < 0 Or info(2) > 5 Then
            s = "GLSPFIT status " & info(2) & ": " & EngineText(11, info(2), n, ncoef, xmin, xmax)
        Else
            s = LabText(1, istatus)
        End If
    Case Else
        s = LabText(1, istatus)
    End Select
    FitStatusMessage = "the standards cannot be fitted: " & s
End Function

' The sample's u(y) argument as QVXL_READBACK takes it: mode 0 with the
' stated value uyv, mode 2 for the text "curve-only", or, left empty,
' mode 1: the library's default from the scatter, for the mean of m readings.
Private Function ResponseArgs(ByVal u_y As Variant, ByVal readings As Variant, _
        ByRef mode As Long, ByRef uyv As Double, ByRef m As Double, ByRef msg As String) As Boolean
    Dim v As Variant
    m = 1
    If Given(readings) Then
        If Not OneNumber(readings, "readings", m, msg) Then Exit Function
        If m <> Int(m) Then
            msg = "readings must be a whole number, not " & m
            Exit Function
        End If
    End If
    uyv = 0
    If IsMissing(u_y) Then
        v = Empty
    ElseIf IsObject(u_y) Then
        v = Single1(u_y)
    Else
        v = u_y
    End If
    If IsEmpty(v) Then
        mode = 1
        ResponseArgs = True
        Exit Function
    End If
    If VarType(v) = vbString Then
        If LCase$(Trim$(v)) = "curve-only" Or LCase$(Trim$(v)) = "curve only" Then
            mode = 2
            ResponseArgs = True
            Exit Function
        End If
        msg = "u_y is the text """ & v & """: give a number, leave it empty, or write curve-only"
        Exit Function
    End If
    If Not OneNumber(v, "u_y", uyv, msg) Then Exit Function
    mode = 0
    ResponseArgs = True
End Function

' QVXL_READBACK for one response, and its flags in words.
Private Function ReadBack(ByRef f As QvxFit, ByVal yv As Double, ByVal mode As Long, _
        ByVal uyv As Double, ByVal m As Double, ByVal level As Double, ByVal haslim As Long, _
        ByRef lims() As Double, ByRef r As QvxReading, ByRef msg As String, _
        ByRef code As Long) As Boolean
    Dim covkind As Long, stated As Long, xstd(1 To 2) As Double, one As Long, grid As Long
    Dim ztol As Double, extrap As Long, rows As Long, istatus As Long
    Dim ya(1 To 1) As Double, uya(1 To 1) As Double, repl(1 To 1) As Double
    Dim nroots(1 To 1) As Long, uyused(1 To 1) As Double, uysrc(1 To 1) As Long
    Dim ucurve(1 To 1) As Double, dof(1 To 1) As Double, k(1 To 1) As Double
    Dim u(1 To 1) As Double, low(1 To 1) As Double, high(1 To 1) As Double
    Dim xext(1 To 1) As Double, uxext(1 To 1) As Double, flags(1 To 1) As Long
    Dim nstd As Long, xs() As Double, mus() As Double
    code = xlErrValue
    covkind = IIf(f.scaled, 1, 0)
    stated = IIf(f.stated, 1, 0)
    xstd(1) = f.xlo: xstd(2) = f.xhi
    one = 1
    ya(1) = yv: uya(1) = uyv: repl(1) = m
    grid = IPVAL_GRID
    rows = IIf(f.ncoef > 2, f.ncoef - 1, 1)
    ReDim r.roots(1 To rows): ReDim r.uroots(1 To rows)
    If f.vmodel >= 0 And mode = 1 Then
        ' Weighted by a variance model: u(y) is the model's at the sample.
        KeptMeans f, nstd, xs, mus
        QVXL_VARIANCE_READBACK f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, f.vmodel, _
            f.vpar(1), f.vpcov(1), nstd, xs(1), mus(1), xstd(1), haslim, lims(1), one, ya(1), _
            repl(1), level, grid, ztol, nroots(1), r.roots(1), r.uroots(1), uyused(1), uysrc(1), _
            ucurve(1), dof(1), k(1), u(1), low(1), high(1), xext(1), uxext(1), flags(1), istatus
    Else
        QVXL_READBACK f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, covkind, f.dof, f.sres, _
            f.weighting, stated, xstd(1), haslim, lims(1), one, ya(1), mode, uya(1), repl(1), _
            level, grid, ztol, extrap, nroots(1), r.roots(1), r.uroots(1), uyused(1), uysrc(1), _
            ucurve(1), dof(1), k(1), u(1), low(1), high(1), xext(1), uxext(1), flags(1), istatus
    End If
    Select Case istatus
    Case 0
    Case 1
        ' Only a curve of degree 0 reaches here: the block's NCOEF is checked.
        msg = EngineText(13, 2, 1, f.ncoef, f.xmin, f.xmax)
        Exit Function
    Case 21
        msg = LabText(1, istatus) & ": give the sample's u(y) (a number), or " & _
            """curve-only"" for the curve's part alone"
        Exit Function
    Case 22
        msg = LabText(1, istatus) & ": give the sample's u(y)"
        Exit Function
    Case 2 To 5
        msg = "the sample's u(y), readings or level: " & LabText(1, istatus)
        Exit Function
    Case Else
        code = xlErrNum
        msg = "QVXL_READBACK status " & istatus & ": " & LabText(1, istatus)
        Exit Function
    End Select
    r.nroot = nroots(1)
    r.uy = uyused(1)
    r.source = Replace(Replace(LabText(3, uysrc(1)), "{m}", CStr(m)), "{s}", IIf(m = 1, "", "s"))
    r.dof = dof(1): r.k = k(1): r.u = u(1)
    r.low = low(1): r.high = high(1): r.flags = flags(1)
    r.xext = xext(1): r.uxext = uxext(1)
    r.flagText = FlagsText(r, haslim, lims)
    ReadBack = True
End Function

' The sample flags in words: the library's text of every bit set, in the
' order of the bits, its placeholders filled ("" when none is set).
Private Function FlagsText(ByRef r As QvxReading, ByVal haslim As Long, ByRef lims() As Double) As String
    Dim bit As Long, k As Long, s As String, t As String, ext As String
    If Finite(r.xext) Then
        ext = " (x = " & Sig(r.xext, 5) & " " & ChrW(177) & " " & Sig(r.uxext, 2) & _
            " on the line extended)"
    End If
    bit = 1
    For k = 0 To 30
        If (r.flags And bit) <> 0 Then
            t = LabText(2, bit)
            If Left$(t, 7) = "status " Then t = "flag " & bit
            t = Replace(t, "{n}", CStr(r.nroot))
            t = Replace(t, "{ext}", ext)
            If (haslim And 1) <> 0 Then t = Replace(t, "{lod}", Sig(lims(1), 4))
            If (haslim And 2) <> 0 Then t = Replace(t, "{loq}", Sig(lims(2), 4))
            If Len(t) > 0 Then
                If Len(s) > 0 Then s = s & "; "
                s = s & t
            End If
        End If
        If k < 30 Then bit = bit * 2
    Next k
    FlagsText = s
End Function

' The LOD and LOQ a sample is flagged against (QVXL_SAMPLE_LIMITS), from a
' block of QVX_LIMITS: its blank, x_D, ICH's and DIN 32645's LOQ.
Private Function SampleLimits(ByVal block As Variant, ByRef haslim As Long, ByRef lims() As Double, _
        ByRef msg As String) As Boolean
    Dim v As Variant, r0 As Long, c0 As Long, nr As Long, nc As Long, istatus As Long
    Dim blank As Double, xd As Double, loq As Double, loqdin As Double
    If IsObject(block) Then v = block.Value2 Else v = block
    If Not IsArray(v) Then
        msg = "limits is not a block of QVX_LIMITS"
        Exit Function
    End If
    If Not TwoDims(v, r0, c0, nr, nc) Then
        msg = "limits is not a block of QVX_LIMITS"
        Exit Function
    End If
    If nr < 15 Or nc < 2 Then
        msg = "limits is not a block of QVX_LIMITS (15 rows, 2 columns)"
        Exit Function
    End If
    If CStr(v(r0, c0)) <> LIMITS_TITLE Then
        msg = "limits is not a block of QVX_LIMITS (its first cell reads """ & LIMITS_TITLE & """)"
        Exit Function
    End If
    blank = FromCell(v(r0, c0 + 1))
    loq = FromCell(v(r0 + 4, c0 + 1))
    xd = FromCell(v(r0 + 9, c0 + 1))
    loqdin = FromCell(v(r0 + 12, c0 + 1))
    QVXL_SAMPLE_LIMITS blank, xd, loq, loqdin, haslim, lims(1), istatus
    If istatus <> 0 Then
        msg = "limits: " & LabText(1, istatus)
        Exit Function
    End If
    SampleLimits = True
End Function

' The fitted standards' x, y, weights, weighted residuals (and x residuals)
' and stated u(y), in order: what the verdict and the limits take.
Private Sub KeptStandards(ByRef f As QvxFit, ByRef n As Long, ByRef x() As Double, _
        ByRef y() As Double, ByRef w() As Double, ByRef wres() As Double, ByRef wresx() As Double, _
        ByRef uy() As Double)
    Dim i As Long
    n = 0
    For i = 1 To f.nstd
        If f.kept(i) Then n = n + 1
    Next i
    ReDim x(1 To n): ReDim y(1 To n): ReDim w(1 To n): ReDim wres(1 To n)
    ReDim wresx(1 To n): ReDim uy(1 To n)
    n = 0
    For i = 1 To f.nstd
        If f.kept(i) Then
            n = n + 1
            x(n) = f.sx(i): y(n) = f.sy(i): w(n) = f.sw(i): wres(n) = f.swres(i)
            wresx(n) = f.swresx(i): uy(n) = f.suy(i)
        End If
    Next i
End Sub

' The fitted standards' x and mean responses under the variance model.
Private Sub KeptMeans(ByRef f As QvxFit, ByRef n As Long, ByRef x() As Double, ByRef mu() As Double)
    Dim i As Long
    n = 0
    For i = 1 To f.nstd
        If f.kept(i) Then n = n + 1
    Next i
    ReDim x(1 To n): ReDim mu(1 To n)
    n = 0
    For i = 1 To f.nstd
        If f.kept(i) Then
            n = n + 1
            x(n) = f.sx(i): mu(n) = f.smu(i)
        End If
    Next i
End Sub

' The verdict (QVXL_VERDICT with the library's default criteria, alpha and
' warn_only as given) as a block of 6 rows and 6 columns.
Private Function VerdictBlock(ByRef f As QvxFit, ByVal alpha As Variant, ByVal warn_only As Variant, _
        ByRef out As Variant, ByRef overall As Long, ByRef msg As String, ByRef code As Long) As Boolean
    Dim crit(1 To 10) As Double, warn As Long, d As Double, n As Long, kind As Long
    Dim covkind As Long, stated As Long, istatus As Long, k As Long, reasons As Long
    Dim x() As Double, y() As Double, w() As Double, wres() As Double, wresx() As Double
    Dim uy() As Double, applies(1 To 4) As Long, statv(1 To 4) As Double, plim(1 To 4) As Double
    Dim alph(1 To 4) As Double, result(1 To 4) As Long, detail(1 To 4) As Long, b() As Variant
    code = xlErrValue
    If Not LoadDll(msg) Then Exit Function
    QVXL_DEFAULT_CRITERIA crit(1), istatus
    If Given(alpha) Then
        If Not OneNumber(alpha, "alpha", crit(1), msg) Then Exit Function
    End If
    If Given(warn_only) Then
        If Not OneNumber(warn_only, "warn_only", d, msg) Then Exit Function
        If d <> Int(d) Or Abs(d) > 1000 Then
            msg = "warn_only must be a whole number (a sum of 1, 2, 4, 8), not " & d
            Exit Function
        End If
        warn = CLng(d)
    End If
    KeptStandards f, n, x, y, w, wres, wresx, uy
    kind = IIf(f.routine = "GLSPFIT", 1, 0)
    covkind = IIf(f.scaled, 1, 0)
    stated = IIf(f.stated, 1, 0)
    QVXL_VERDICT f.ncoef, f.coef(1), f.covu(1, 1), f.xmin, f.xmax, kind, covkind, f.dof, f.sres, _
        f.chi2, stated, n, x(1), y(1), w(1), wres(1), wresx(1), crit(1), warn, applies(1), _
        statv(1), plim(1), alph(1), result(1), detail(1), overall, reasons, istatus
    If istatus <> 0 Then
        msg = LabText(1, istatus)
        If istatus > 5 Then code = xlErrNum
        Exit Function
    End If
    ReDim b(1 To 6, 1 To 6)
    b(1, 1) = "criterion": b(1, 2) = "statistic": b(1, 3) = "p-value or limit"
    b(1, 4) = "level": b(1, 5) = "result": b(1, 6) = "detail"
    For k = 1 To 4
        b(1 + k, 1) = LabText(4, k)
        b(1 + k, 2) = ToCell(statv(k)): b(1 + k, 3) = ToCell(plim(k))
        b(1 + k, 4) = ToCell(alph(k)): b(1 + k, 5) = LabText(5, result(k))
        b(1 + k, 6) = detail(k)
    Next k
    b(6, 1) = "overall": b(6, 2) = LabText(6, overall): b(6, 3) = "reasons": b(6, 4) = reasons
    b(6, 5) = "": b(6, 6) = ""
    out = b
    VerdictBlock = True
End Function

' The detection limits (QVXL_LIMITS) as a block of 15 rows and 2 columns:
' the blank, LIM(1..12) each named by its definition, the source of the
' blank's scatter, whether the curve was extended to the blank.
Private Function LimitsBlock(ByRef f As QvxFit, ByVal blank As Variant, ByVal alpha As Variant, _
        ByVal beta As Variant, ByVal replicates As Variant, ByVal u_blank As Variant, _
        ByVal k_loq As Variant, ByVal blank_readings As Variant, ByRef out As Variant, _
        ByRef msg As String, ByRef code As Long) As Boolean
    Dim x0 As Double, a As Double, bt As Double, rp As Double, ub(1 To 2) As Double, kq As Double
    Dim br() As Double, nb As Long, one As Long, sd(1 To 1) As Double, sdof(1 To 1) As Double
    Dim repl As Long, hasub As Long, n As Long, covkind As Long, stated As Long, istatus As Long
    Dim x() As Double, y() As Double, w() As Double, wres() As Double, wresx() As Double
    Dim uy() As Double, lim(1 To 12) As Double, source As Long, extrap As Long, k As Long
    Dim b() As Variant
    code = xlErrValue
    x0 = 0: a = 0.05: bt = 0.05: rp = 1: kq = 3
    If Given(blank) Then
        If Not OneNumber(blank, "blank", x0, msg) Then Exit Function
    End If
    If Given(alpha) Then
        If Not OneNumber(alpha, "alpha", a, msg) Then Exit Function
    End If
    If Given(beta) Then
        If Not OneNumber(beta, "beta", bt, msg) Then Exit Function
    End If
    If Given(replicates) Then
        If Not OneNumber(replicates, "replicates", rp, msg) Then Exit Function
    End If
    If Given(k_loq) Then
        If Not OneNumber(k_loq, "k_loq", kq, msg) Then Exit Function
    End If
    ub(2) = 1
    If Given(u_blank) Then
        If Not OneNumber(u_blank, "u_blank", ub(1), msg) Then Exit Function
        hasub = 1
    End If
    If Given(blank_readings) Then
        If hasub = 1 Then
            msg = "give either u_blank or blank_readings, not both"
            Exit Function
        End If
        If Not Numbers(blank_readings, "blank_readings", br, nb, msg) Then Exit Function
    End If
    If rp <> Int(rp) Or Abs(rp) > 1000000 Then
        msg = "replicates must be a whole number, not " & rp
        Exit Function
    End If
    repl = CLng(rp)
    If Not LoadDll(msg) Then Exit Function
    If nb > 0 Then
        ' The blank's scatter from readings of blanks.
        QVXL_BLANK_SCATTER nb, br(1), ub(1), ub(2), istatus
        If istatus <> 0 Then
            msg = "blank_readings: " & LabText(1, istatus)
            Exit Function
        End If
        hasub = 2
    ElseIf hasub = 0 And f.vmodel >= 0 Then
        ' Else the variance model's floor (constant, floor) at the blank.
        ub(1) = 0: ub(2) = 0
        If f.vmodel = 0 Or f.vmodel = 2 Then
            one = 1
            QVXL_VARIANCE_AT f.vmodel, f.vpar(1), f.vpcov(1), one, x0, x0, sd(1), sdof(1), istatus
            If istatus <> 0 Then
                msg = "variance model: " & LabText(1, istatus)
                Exit Function
            End If
            If sd(1) > 0 Then ub(1) = sd(1): ub(2) = sdof(1)
        End If
        hasub = 3
    End If
    KeptStandards f, n, x, y, w, wres, wresx, uy
    covkind = IIf(f.scaled, 1, 0)
    stated = IIf(f.stated, 1, 0)
    QVXL_LIMITS f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, covkind, f.dof, f.sres, _
        f.weighting, n, x(1), w(1), stated, uy(1), a, bt, x0, repl, hasub, ub(1), kq, lim(1), _
        source, extrap, istatus
    If istatus <> 0 Then
        msg = LabText(1, istatus)
        If istatus > 5 Then code = xlErrNum
        Exit Function
    End If
    ReDim b(1 To 15, 1 To 2)
    b(1, 1) = LIMITS_TITLE: b(1, 2) = x0
    For k = 1 To 12
        b(1 + k, 1) = LabText(7, k)
        b(1 + k, 2) = ToCell(lim(k))
    Next k
    b(14, 1) = "blank's scatter from": b(14, 2) = LabText(8, source)
    b(15, 1) = "curve extended to the blank": b(15, 2) = IIf(extrap = 1, "yes", "no")
    out = b
    LimitsBlock = True
End Function

' The curve and its band at x (QVXL_BAND): y, u, lower, upper, k (one row).
' A prediction band takes u_y as the scatter of one new response, or the
' library's (QVXL_RESPONSE_SD).
Private Function BandRow(ByRef f As QvxFit, ByVal x As Variant, ByVal level As Variant, _
        ByVal kind As Variant, ByVal u_y As Variant, ByRef out As Variant, ByRef msg As String, _
        ByRef code As Long) As Boolean
    Dim xv(1 To 1) As Double, lv As Double, kd As Long, rsd(1 To 1) As Double, istatus As Long
    Dim covkind As Long, n As Long, nst As Long, one As Long, k As Double
    Dim xs() As Double, ys() As Double, w() As Double, wres() As Double, wresx() As Double
    Dim uy() As Double, yv(1 To 1) As Double, u(1 To 1) As Double, lo(1 To 1) As Double
    Dim hi(1 To 1) As Double, b(1 To 1, 1 To 5) As Variant, s As String
    code = xlErrValue
    If Not OneNumber(x, "x", xv(1), msg) Then Exit Function
    lv = READ_LEVEL
    If Given(level) Then
        If Not OneNumber(level, "level", lv, msg) Then Exit Function
    End If
    kd = 0
    If Given(kind) Then
        s = LCase$(Trim$(CStr(Single1(kind))))
        Select Case s
        Case "confidence": kd = 0
        Case "prediction": kd = 1
        Case Else
            msg = "kind must be ""confidence"" or ""prediction"", not """ & s & """"
            Exit Function
        End Select
    End If
    If Not LoadDll(msg) Then Exit Function
    covkind = IIf(f.scaled, 1, 0)
    one = 1
    If kd = 1 Then
        If Given(u_y) Then
            If Not OneNumber(u_y, "u_y", rsd(1), msg) Then Exit Function
        Else
            KeptStandards f, n, xs, ys, w, wres, wresx, uy
            nst = IIf(f.stated, n, 0)
            QVXL_RESPONSE_SD one, xv(1), f.weighting, nst, uy(1), covkind, f.sres, rsd(1), istatus
            If istatus <> 0 Then
                msg = LabText(1, istatus)
                If istatus > 5 Then code = xlErrNum
                Exit Function
            End If
        End If
    End If
    QVXL_BAND f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, covkind, f.dof, lv, kd, one, _
        xv(1), rsd(1), yv(1), u(1), lo(1), hi(1), k, istatus
    If istatus <> 0 Then
        msg = LabText(1, istatus)
        If istatus > 5 Then code = xlErrNum
        Exit Function
    End If
    b(1, 1) = ToCell(yv(1)): b(1, 2) = ToCell(u(1)): b(1, 3) = ToCell(lo(1))
    b(1, 4) = ToCell(hi(1)): b(1, 5) = ToCell(k)
    out = b
    BandRow = True
End Function

' The curve at one x inside its interval (QVXL_CURVE).
Private Function CurveAt(ByRef f As QvxFit, ByVal xv As Double, ByRef yv As Double, _
        ByRef msg As String, ByRef code As Long) As Boolean
    Dim what As Long, extend As Long, one As Long, istatus As Long
    Dim xa(1 To 1) As Double, ya(1 To 1) As Double, dy(1 To 1) As Double, u(1 To 1) As Double
    what = 1: extend = 0: one = 1
    xa(1) = xv
    If Not LoadDll(msg) Then Exit Function
    QVXL_CURVE f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, what, extend, one, xa(1), _
        ya(1), dy(1), u(1), istatus
    If istatus <> 0 Then
        code = xlErrNum
        msg = "x = " & xv & ": " & LabText(1, istatus) & " [" & f.xmin & ", " & f.xmax & "]"
        Exit Function
    End If
    yv = ya(1)
    CurveAt = True
End Function

' A straight line's intercept and slope with their covariance (LINEAR_CONV):
' a(1) intercept, a(2) slope.
Private Function LineForm(ByRef f As QvxFit, ByRef a() As Double, ByRef ca() As Double, _
        ByRef msg As String, ByRef code As Long) As Boolean
    Dim lcoef(1 To 2) As Double, lcov(1 To 2, 1 To 2) As Double, istatus As Long
    If f.ncoef <> 2 Then
        msg = "the fit is of degree " & (f.ncoef - 1) & ", not a straight line; QVX_POWER " & _
            "gives its power coefficients"
        Exit Function
    End If
    If Not LoadDll(msg) Then Exit Function
    LINEAR_CONV f.coef(1), f.cov(1, 1), f.xmin, f.xmax, lcoef(1), lcov(1, 1), istatus
    If istatus <> 0 Then
        code = xlErrNum
        msg = "LINEAR_CONV status " & istatus & ": " & EngineText(14, istatus, 1, 2, f.xmin, f.xmax)
        Exit Function
    End If
    ReDim a(1 To 2): ReDim ca(1 To 2, 1 To 2)
    ' LINEAR_CONV gives (slope, intercept); the table lists the intercept first.
    a(1) = lcoef(2): a(2) = lcoef(1)
    ca(1, 1) = lcov(2, 2): ca(2, 2) = lcov(1, 1): ca(1, 2) = lcov(2, 1): ca(2, 1) = lcov(1, 2)
    LineForm = True
End Function

' The curve in powers of x (QVXL_POWER): a(1) + a(2) x + a(3) x^2 + ...,
' with the covariance ca of the a.
Private Function PowerForm(ByRef f As QvxFit, ByRef a() As Double, ByRef ca() As Double, _
        ByRef msg As String, ByRef code As Long) As Boolean
    Dim istatus As Long
    If Not LoadDll(msg) Then Exit Function
    ReDim a(1 To f.ncoef): ReDim ca(1 To f.ncoef, 1 To f.ncoef)
    QVXL_POWER f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, a(1), ca(1, 1), istatus
    If istatus <> 0 Then
        code = xlErrNum
        msg = "QVXL_POWER status " & istatus & ": " & LabText(1, istatus)
        Exit Function
    End If
    PowerForm = True
End Function

' Name, value and standard uncertainty (the root of the variance) per power.
Private Function PowerTable(ByRef a() As Double, ByRef ca() As Double, ByVal nc As Long) As Variant
    Dim out() As Variant, k As Long
    ReDim out(1 To nc, 1 To 3)
    For k = 1 To nc
        out(k, 1) = PowerName(k - 1)
        out(k, 2) = a(k)
        out(k, 3) = RootOf(ca(k, k))
    Next k
    PowerTable = out
End Function

Private Function PowerName(ByVal p As Long) As String
    Select Case p
    Case 0: PowerName = "intercept"
    Case 1: PowerName = "slope"
    Case Else: PowerName = "x^" & p
    End Select
End Function

' The standard uncertainty a variance stands for; a variance that is not a
' number >= 0 (a covariance without degrees of freedom) shows empty.
Private Function RootOf(ByVal v As Double) As Variant
    If Not Finite(v) Then
        RootOf = ""
    ElseIf v < 0 Then
        RootOf = ""
    Else
        RootOf = Sqr(v)
    End If
End Function

' --------------------------------------------------- numbers and cells

' Whether a Double is a number (not NaN, not infinite): its exponent bits.
Private Function Finite(ByVal d As Double) As Boolean
    Dim a As DoubleBits, b As LongPair
    a.d = d
    LSet b = a
    Finite = (b.hi And &H7FF00000) <> &H7FF00000
End Function

' A Double from its two halves.
Private Function FromBits(ByVal hi As Long, ByVal lo As Long) As Double
    Dim a As DoubleBits, b As LongPair
    b.hi = hi: b.lo = lo
    LSet a = b
    FromBits = a.d
End Function

Private Function NaN() As Double
    NaN = FromBits(&H7FF80000, 0)
End Function

' A library result as a cell shows it: a number; NaN as an empty cell,
' infinity as "inf" or "-inf".
Private Function ToCell(ByVal d As Double) As Variant
    Dim a As DoubleBits, b As LongPair
    If Finite(d) Then
        ToCell = d
        Exit Function
    End If
    a.d = d
    LSet b = a
    If (b.hi And &HFFFFF) <> 0 Or b.lo <> 0 Then
        ToCell = ""
    ElseIf b.hi < 0 Then
        ToCell = "-inf"
    Else
        ToCell = "inf"
    End If
End Function

' The other way: a cell of a block back to the library's number.
Private Function FromCell(ByVal v As Variant) As Double
    If IsNumber(v) Then
        FromCell = CDbl(v)
    ElseIf VarType(v) = vbString Then
        Select Case v
        Case "inf": FromCell = FromBits(&H7FF00000, 0)
        Case "-inf": FromCell = FromBits(&HFFF00000, 0)
        Case Else: FromCell = NaN()
        End Select
    Else
        FromCell = NaN()
    End If
End Function

' A number rounded to `digits` significant digits, as text.
Private Function Sig(ByVal d As Double, ByVal digits As Long) As String
    If Not Finite(d) Then
        Sig = CStr(ToCell(d))
    ElseIf d = 0 Then
        Sig = "0"
    Else
        Sig = CStr(CDbl(Format$(d, "0." & String$(digits - 1, "0") & "E+000")))
    End If
End Function

' ------------------------------------------------------------- fit block

' Rows (a label, then values):
'   "quorvex fit"  NCOEF, routine, "weighting", none | 1/x | 1/x2
'   "interval"     XMIN, XMAX, "chi2", CHI2
'   "SRES"         SRES, the lowest fitted standard's x, "standards", their number
'   "dof"          dof, the highest fitted standard's x, "u(y)", stated | none
'   "covariance"   scaled | stated: the one the uncertainties use
'   "COEF"         COEF(1..NCOEF)
'   NCOEF rows "COV": that covariance, row by row
'   NCOEF rows "COV unscaled": the covariance as the fit gave it
'   a row per standard: "standard" (fitted) or "left out", x, y, u(y), the
'     weight, the weighted residual, the weighted x residual, the reason
' NaN is an empty cell.  max(NCOEF + 1, 8) columns.
Private Function FitBlock(ByRef f As QvxFit) As Variant
    Dim b() As Variant, i As Long, j As Long, nc As Long, ncol As Long, nrow As Long, r As Long
    nc = f.ncoef
    ncol = nc + 1
    If ncol < BLOCK_MIN_COLS Then ncol = BLOCK_MIN_COLS
    nrow = 6 + 2 * nc + f.nstd
    ' A variance model: one more row (the model), one more column (each
    ' standard's mean response).
    If f.vmodel >= 0 Then
        nrow = nrow + 1
        If ncol < BLOCK_MIN_COLS + 1 Then ncol = BLOCK_MIN_COLS + 1
    End If
    ReDim b(1 To nrow, 1 To ncol)
    For i = 1 To nrow
        For j = 1 To ncol
            b(i, j) = ""
        Next j
    Next i
    b(1, 1) = "quorvex fit": b(1, 2) = nc: b(1, 3) = f.routine
    b(1, 4) = "weighting": b(1, 5) = f.wname
    b(2, 1) = "interval": b(2, 2) = f.xmin: b(2, 3) = f.xmax: b(2, 4) = "chi2": b(2, 5) = f.chi2
    b(3, 1) = "SRES": b(3, 2) = f.sres: b(3, 3) = f.xlo: b(3, 4) = "standards": b(3, 5) = f.nstd
    b(4, 1) = "dof": b(4, 2) = f.dof: b(4, 3) = f.xhi: b(4, 4) = "u(y)"
    b(4, 5) = IIf(f.stated, "stated", "none")
    b(5, 1) = "covariance": b(5, 2) = IIf(f.scaled, "scaled", "stated")
    b(6, 1) = "COEF"
    For j = 1 To nc
        b(6, j + 1) = f.coef(j)
    Next j
    For i = 1 To nc
        b(6 + i, 1) = "COV"
        b(6 + nc + i, 1) = "COV unscaled"
        For j = 1 To nc
            b(6 + i, j + 1) = ToCell(f.cov(i, j))
            b(6 + nc + i, j + 1) = ToCell(f.covu(i, j))
        Next j
    Next i
    For i = 1 To f.nstd
        r = 6 + 2 * nc + i
        b(r, 1) = IIf(f.kept(i), "standard", "left out")
        b(r, 2) = f.sx(i): b(r, 3) = f.sy(i): b(r, 4) = ToCell(f.suy(i))
        b(r, 5) = ToCell(f.sw(i)): b(r, 6) = ToCell(f.swres(i)): b(r, 7) = ToCell(f.swresx(i))
        b(r, 8) = f.reason(i)
        If f.vmodel >= 0 Then b(r, 9) = ToCell(f.smu(i))
    Next i
    If f.vmodel >= 0 Then
        b(5, 3) = "variance dof": b(5, 4) = f.vdof: b(5, 5) = "groups": b(5, 6) = f.vgroups
        b(5, 7) = "from": b(5, 8) = f.vsource
        b(nrow, 1) = "variance model": b(nrow, 2) = VarianceName(f.vmodel)
        b(nrow, 3) = f.vpar(1): b(nrow, 4) = f.vpar(2)
        For j = 1 To 4
            b(nrow, 4 + j) = ToCell(f.vpcov(j))
        Next j
    End If
    FitBlock = b
End Function

' Reads a fit block (a range or the array QVX_FIT returned).
Private Function ReadFit(ByVal block As Variant, ByRef f As QvxFit, ByRef msg As String) As Boolean
    Dim v As Variant, r0 As Long, c0 As Long, nr As Long, nc As Long, i As Long, j As Long
    Dim n As Double, ns As Double, r As Long, wsrc As Long, vreq As Long, extra As Long
    If IsMissing(block) Then
        msg = "give the fit block that QVX_FIT returned"
        Exit Function
    End If
    If IsObject(block) Then
        If TypeName(block) <> "Range" Then
            msg = "the fit argument is not a fit block"
            Exit Function
        End If
        v = block.Value2
    Else
        v = block
    End If
    If Not IsArray(v) Then
        msg = "the fit argument is one cell; give the whole block QVX_FIT returned"
        If IsError(v) Then msg = "the fit block holds an error: see =QVX_ERROR() of its formula"
        Exit Function
    End If
    If Not TwoDims(v, r0, c0, nr, nc) Then
        msg = "the fit argument is not a fit block (it has one row)"
        Exit Function
    End If
    If IsError(v(r0, c0)) Then
        msg = "the fit block holds an error: see =QVX_ERROR() of its formula"
        Exit Function
    End If
    If CStr(v(r0, c0)) <> "quorvex fit" Or nc < BLOCK_MIN_COLS Or nr < 6 Then
        msg = "the fit argument is not a fit block of QVX_FIT (its first cell reads " & _
            """quorvex fit"", " & BLOCK_MIN_COLS & " columns or more)"
        Exit Function
    End If
    If Not (IsNumber(v(r0, c0 + 1)) And IsNumber(v(r0 + 2, c0 + 4))) Then
        msg = "the fit block's NCOEF or standards cell is damaged"
        Exit Function
    End If
    n = v(r0, c0 + 1)
    ns = v(r0 + 2, c0 + 4)
    If n <> Int(n) Or n < 1 Or n > 10 Or ns <> Int(ns) Or ns < 1 Or ns > 1000000 Then
        msg = "the fit block's NCOEF or standards cell is damaged"
        Exit Function
    End If
    If Not WeightingCode(v(r0, c0 + 4), f.weighting, wsrc, vreq, msg) Then Exit Function
    If wsrc = 4 And vreq <> -2 Then
        msg = "the fit block's weighting cell is damaged"
        Exit Function
    End If
    extra = IIf(wsrc = 4, 1, 0)
    If nr < 6 + 2 * n + ns + extra Or nc < n + 1 Or nc < BLOCK_MIN_COLS + extra Then
        msg = "the fit block is incomplete: select " & (6 + 2 * n + ns + extra) & " rows and " & _
            IIf(n + 1 > BLOCK_MIN_COLS + extra, n + 1, BLOCK_MIN_COLS + extra) & _
            " columns for QVX_FIT, or give the whole block"
        Exit Function
    End If
    f.ncoef = CLng(n)
    f.nstd = CLng(ns)
    f.routine = CStr(v(r0, c0 + 2))
    f.wname = WeightingName(f.weighting, wsrc)
    f.vmodel = -1
    If Not (IsNumber(v(r0 + 1, c0 + 1)) And IsNumber(v(r0 + 1, c0 + 2)) And _
            IsNumber(v(r0 + 1, c0 + 4)) And IsNumber(v(r0 + 2, c0 + 1)) And _
            IsNumber(v(r0 + 2, c0 + 2)) And IsNumber(v(r0 + 3, c0 + 1)) And _
            IsNumber(v(r0 + 3, c0 + 2))) Then
        msg = "the fit block's interval, chi2, SRES, dof or standards' range is damaged"
        Exit Function
    End If
    f.xmin = v(r0 + 1, c0 + 1): f.xmax = v(r0 + 1, c0 + 2): f.chi2 = v(r0 + 1, c0 + 4)
    f.sres = v(r0 + 2, c0 + 1): f.xlo = v(r0 + 2, c0 + 2)
    f.dof = CLng(v(r0 + 3, c0 + 1)): f.xhi = v(r0 + 3, c0 + 2)
    f.stated = (CStr(v(r0 + 3, c0 + 4)) = "stated")
    Select Case CStr(v(r0 + 4, c0 + 1))
    Case "scaled": f.scaled = True
    Case "stated": f.scaled = False
    Case Else
        msg = "the fit block's covariance cell must read scaled or stated"
        Exit Function
    End Select
    ReDim f.coef(1 To f.ncoef): ReDim f.cov(1 To f.ncoef, 1 To f.ncoef)
    ReDim f.covu(1 To f.ncoef, 1 To f.ncoef)
    For j = 1 To f.ncoef
        If Not IsNumber(v(r0 + 5, c0 + j)) Then
            msg = "the fit block's COEF(" & j & ") is not a number"
            Exit Function
        End If
        f.coef(j) = v(r0 + 5, c0 + j)
        For i = 1 To f.ncoef
            f.cov(i, j) = FromCell(v(r0 + 5 + i, c0 + j))
            f.covu(i, j) = FromCell(v(r0 + 5 + f.ncoef + i, c0 + j))
        Next i
    Next j
    ReDim f.kept(1 To f.nstd): ReDim f.sx(1 To f.nstd): ReDim f.sy(1 To f.nstd)
    ReDim f.suy(1 To f.nstd): ReDim f.sw(1 To f.nstd): ReDim f.swres(1 To f.nstd)
    ReDim f.swresx(1 To f.nstd): ReDim f.reason(1 To f.nstd)
    For i = 1 To f.nstd
        r = r0 + 5 + 2 * f.ncoef + i
        f.kept(i) = (CStr(v(r, c0)) = "standard")
        If Not (IsNumber(v(r, c0 + 1)) And IsNumber(v(r, c0 + 2))) Then
            msg = "the fit block's standard " & i & " is damaged"
            Exit Function
        End If
        f.sx(i) = v(r, c0 + 1): f.sy(i) = v(r, c0 + 2): f.suy(i) = FromCell(v(r, c0 + 3))
        f.sw(i) = FromCell(v(r, c0 + 4)): f.swres(i) = FromCell(v(r, c0 + 5))
        f.swresx(i) = FromCell(v(r, c0 + 6)): f.reason(i) = CStr(v(r, c0 + 7))
    Next i
    If wsrc = 4 Then
        ' The variance model's row, and each standard's mean response.
        r = r0 + 6 + 2 * f.ncoef + f.nstd
        f.vmodel = VarianceCode(CStr(v(r, c0 + 1)))
        If CStr(v(r, c0)) <> "variance model" Or f.vmodel < 0 Or Not (IsNumber(v(r, c0 + 2)) _
                And IsNumber(v(r, c0 + 3))) Then
            msg = "the fit block's variance model row is damaged"
            Exit Function
        End If
        f.vpar(1) = v(r, c0 + 2): f.vpar(2) = v(r, c0 + 3)
        For j = 1 To 4
            f.vpcov(j) = FromCell(v(r, c0 + 3 + j))
        Next j
        f.vsource = CStr(v(r0 + 4, c0 + 7))
        If IsNumber(v(r0 + 4, c0 + 3)) Then f.vdof = CLng(v(r0 + 4, c0 + 3))
        If IsNumber(v(r0 + 4, c0 + 5)) Then f.vgroups = CLng(v(r0 + 4, c0 + 5))
        ReDim f.smu(1 To f.nstd)
        For i = 1 To f.nstd
            f.smu(i) = FromCell(v(r0 + 5 + 2 * f.ncoef + i, c0 + 8))
        Next i
    End If
    ReadFit = True
End Function

' The weighting by name.  The presets the library applies in the fit:
' empty or "none" (wcode 0), "1/x" (1), "1/x2" (2); weights from the
' responses, which the fit takes as relative u(y): "1/y" (wsrc 1), "1/y2"
' (2); a variance model fitted to the standards (wsrc 4): "constant",
' "proportional", "floor", "power" (vreq 0 to 3) or "auto" (-1, chosen).
' A fit block's cell also reads "weights" (a weight column, wsrc 3) or
' "variance" (vreq -2: the model is in the block).
Private Function WeightingCode(ByVal a As Variant, ByRef wcode As Long, ByRef wsrc As Long, _
        ByRef vreq As Long, ByRef msg As String) As Boolean
    Dim s As String
    wcode = 0: wsrc = 0: vreq = -1
    If Given(a) Then
        s = LCase$(Replace(Trim$(CStr(Single1(a))), " ", ""))
        Select Case s
        Case "", "none": wcode = 0
        Case "1/x": wcode = 1
        Case "1/x2", "1/x^2": wcode = 2
        Case "1/y": wsrc = 1
        Case "1/y2", "1/y^2": wsrc = 2
        Case "weights": wsrc = 3
        Case "auto": wsrc = 4: vreq = -1
        Case "constant": wsrc = 4: vreq = 0
        Case "proportional": wsrc = 4: vreq = 1
        Case "floor": wsrc = 4: vreq = 2
        Case "power": wsrc = 4: vreq = 3
        Case "variance": wsrc = 4: vreq = -2
        Case Else
            msg = "weighting must be empty, ""1/x"", ""1/x2"", ""1/y"", ""1/y2"" or a variance " & _
                "model (""constant"", ""proportional"", ""floor"", ""power"", ""auto""), not """ & _
                s & """"
            Exit Function
        End Select
    End If
    WeightingCode = True
End Function

Private Function WeightingName(ByVal wcode As Long, ByVal wsrc As Long) As String
    If wsrc = 0 Then
        WeightingName = Choose(wcode + 1, "none", "1/x", "1/x2")
    Else
        WeightingName = Choose(wsrc, "1/y", "1/y2", "weights", "variance")
    End If
End Function

' A variance model's name by its code 0 to 3, and back (-1: not a name).
Private Function VarianceName(ByVal model As Long) As String
    VarianceName = Choose(model + 1, "constant", "proportional", "floor", "power")
End Function

Private Function VarianceCode(ByVal s As String) As Long
    Select Case s
    Case "constant": VarianceCode = 0
    Case "proportional": VarianceCode = 1
    Case "floor": VarianceCode = 2
    Case "power": VarianceCode = 3
    Case Else: VarianceCode = -1
    End Select
End Function

' The covariance asked for: empty -1 (the library's choice), "stated" 0,
' "scaled" 1.
Private Function CovarianceCode(ByVal a As Variant, ByRef covkind As Long, ByRef msg As String) As Boolean
    Dim s As String
    covkind = -1
    If Given(a) Then
        s = LCase$(Trim$(CStr(Single1(a))))
        Select Case s
        Case "stated": covkind = 0
        Case "scaled": covkind = 1
        Case Else
            msg = "covariance must be empty, ""stated"" or ""scaled"", not """ & s & """"
            Exit Function
        End Select
    End If
    CovarianceCode = True
End Function

' The reasons standards are left out: one cell per standard, empty for one
' fitted (or the argument left out: every one fitted).
Private Function Reasons(ByVal a As Variant, ByVal n As Long, ByRef why() As String, _
        ByRef msg As String) As Boolean
    Dim v As Variant, r0 As Long, c0 As Long, nr As Long, nc As Long, i As Long, e As Variant
    ReDim why(1 To n)
    Reasons = True
    If Not Given(a) Then Exit Function
    If IsObject(a) Then v = a.Value2 Else v = a
    If Not IsArray(v) Then
        If n = 1 Then
            If Not IsEmpty(v) And Not IsError(v) Then why(1) = Trim$(CStr(v))
            Exit Function
        End If
        Reasons = False
        msg = "exclude has 1 cell for " & n & " standards: give one cell per standard"
        Exit Function
    End If
    If TwoDims(v, r0, c0, nr, nc) Then
        If nr * nc <> n Or (nr > 1 And nc > 1) Then
            Reasons = False
            msg = "exclude has " & nr * nc & " cells for " & n & _
                " standards: give one row or column, one cell per standard"
            Exit Function
        End If
        For i = 1 To n
            If nr = 1 Then e = v(r0, c0 + i - 1) Else e = v(r0 + i - 1, c0)
            If Not IsEmpty(e) And Not IsError(e) Then why(i) = Trim$(CStr(e))
        Next i
    Else
        If UBound(v) - LBound(v) + 1 <> n Then
            Reasons = False
            msg = "exclude has " & (UBound(v) - LBound(v) + 1) & " values for " & n & " standards"
            Exit Function
        End If
        For i = 1 To n
            e = v(LBound(v) + i - 1)
            If Not IsEmpty(e) And Not IsError(e) Then why(i) = Trim$(CStr(e))
        Next i
    End If
End Function

' ------------------------------------------------------------- arguments

' True unless the optional argument is left out or an empty cell.
Private Function Given(ByVal a As Variant) As Boolean
    Dim v As Variant
    If IsMissing(a) Then Exit Function
    If IsObject(a) Then
        If TypeName(a) = "Range" Then
            If a.Cells.CountLarge = 1 Then
                v = a.Value2
                If IsEmpty(v) Then Exit Function
            End If
        End If
    ElseIf IsEmpty(a) Then
        Exit Function
    End If
    Given = True
End Function

Private Function IsNumber(ByVal v As Variant) As Boolean
    Select Case VarType(v)
    Case vbDouble, vbSingle, vbLong, vbInteger, vbByte, vbCurrency, vbDecimal
        IsNumber = True
    End Select
End Function

' The value of a one-cell range, or the argument itself.
Private Function Single1(ByVal a As Variant) As Variant
    If IsObject(a) Then
        If TypeName(a) = "Range" Then
            If a.Cells.CountLarge = 1 Then
                Single1 = a.Value2
                Exit Function
            End If
        End If
        Single1 = CVErr(xlErrValue)
    Else
        Single1 = a
    End If
End Function

Private Function OneNumber(ByVal a As Variant, ByVal what As String, ByRef d As Double, _
        ByRef msg As String) As Boolean
    Dim v As Variant
    If IsObject(a) Then v = Single1(a) Else v = a
    If IsArray(v) Then
        If Not TwoDimsOne(v) Then
            msg = what & " must be one value, not a range of several cells"
            Exit Function
        End If
    End If
    If IsError(v) Then
        msg = what & " is an error value, or a range of several cells where one value is needed"
    ElseIf IsEmpty(v) Then
        msg = what & " is empty"
    ElseIf Not IsNumber(v) Then
        msg = what & " is not a number: " & CStr(v)
    Else
        d = CDbl(v)
        OneNumber = True
    End If
End Function

' A one-element array as its value (a single-cell result of another formula).
Private Function TwoDimsOne(ByRef v As Variant) As Boolean
    Dim r0 As Long, c0 As Long, nr As Long, nc As Long
    If TwoDims(v, r0, c0, nr, nc) Then
        If nr = 1 And nc = 1 Then
            v = v(r0, c0)
            TwoDimsOne = True
        End If
    ElseIf UBound(v) = LBound(v) Then
        v = v(LBound(v))
        TwoDimsOne = True
    End If
End Function

' Bounds of a two-dimensional array; False for one dimension.
Private Function TwoDims(ByRef v As Variant, ByRef r0 As Long, ByRef c0 As Long, _
        ByRef nr As Long, ByRef nc As Long) As Boolean
    On Error GoTo oneDim
    c0 = LBound(v, 2)
    nc = UBound(v, 2) - c0 + 1
    r0 = LBound(v, 1)
    nr = UBound(v, 1) - r0 + 1
    TwoDims = True
    Exit Function
oneDim:
End Function

' The numbers of a row, a column, an array or one value, in order; every
' cell must hold a number.
Private Function Numbers(ByVal a As Variant, ByVal what As String, ByRef out() As Double, _
        ByRef n As Long, ByRef msg As String) As Boolean
    Dim v As Variant, r0 As Long, c0 As Long, nr As Long, nc As Long, i As Long, j As Long
    Dim k As Long, e As Variant
    If IsObject(a) Then
        If TypeName(a) <> "Range" Then
            msg = what & " is not a range of cells"
            Exit Function
        End If
        v = a.Value2
    Else
        v = a
    End If
    If Not IsArray(v) Then
        ReDim out(1 To 1)
        If Not OneNumber(v, what, out(1), msg) Then Exit Function
        n = 1
        Numbers = True
        Exit Function
    End If
    If TwoDims(v, r0, c0, nr, nc) Then
        If nr > 1 And nc > 1 Then
            msg = what & " is a block of " & nr & " rows and " & nc & " columns: give one row " & _
                "or one column"
            Exit Function
        End If
        n = nr * nc
        ReDim out(1 To n)
        k = 0
        For i = 0 To nr - 1
            For j = 0 To nc - 1
                k = k + 1
                e = v(r0 + i, c0 + j)
                If Not CellNumber(e, what, k, out(k), msg) Then Exit Function
            Next j
        Next i
    Else
        n = UBound(v) - LBound(v) + 1
        ReDim out(1 To n)
        For k = 1 To n
            e = v(LBound(v) + k - 1)
            If Not CellNumber(e, what, k, out(k), msg) Then Exit Function
        Next k
    End If
    Numbers = True
End Function

Private Function CellNumber(ByVal e As Variant, ByVal what As String, ByVal k As Long, _
        ByRef d As Double, ByRef msg As String) As Boolean
    If IsError(e) Then
        msg = what & ": value " & k & " is an error value"
    ElseIf IsEmpty(e) Then
        msg = what & ": value " & k & " is empty"
    ElseIf Not IsNumber(e) Then
        msg = what & ": value " & k & " is not a number: " & CStr(e)
    Else
        d = CDbl(e)
        CellNumber = True
    End If
End Function

' u_y or u_x: one value for every standard, or one per standard (the
' library checks the values).
Private Function PerStandard(ByVal a As Variant, ByVal what As String, ByVal n As Long, _
        ByRef out() As Double, ByRef msg As String) As Boolean
    Dim vals() As Double, m As Long, i As Long
    If Not Numbers(a, what, vals, m, msg) Then Exit Function
    If m <> 1 And m <> n Then
        msg = what & " has " & m & " values for " & n & " standards: give one, or one per standard"
        Exit Function
    End If
    ReDim out(1 To n)
    For i = 1 To n
        If m = 1 Then out(i) = vals(1) Else out(i) = vals(i)
    Next i
    PerStandard = True
End Function

' ------------------------------------------------------- errors and shape

' Records why the calling formula failed, and returns the error value.
Private Function Fail(ByVal code As Long, ByVal msg As String) As Variant
    Dim key As String
    mLastMessage = msg
    key = CallerKey()
    If Len(key) > 0 Then
        If mMessages Is Nothing Then Set mMessages = CreateObject("Scripting.Dictionary")
        mMessages(key) = msg
    End If
    Fail = CVErr(code)
End Function

' Forgets an earlier failure of the calling formula.
Private Sub Succeed()
    Dim key As String
    If mMessages Is Nothing Then Exit Sub
    key = CallerKey()
    If Len(key) > 0 Then
        If mMessages.Exists(key) Then mMessages.Remove key
    End If
End Sub

Private Function CallerKey() As String
    Dim c As Variant
    On Error GoTo none
    Set c = Application.Caller
    If TypeName(c) = "Range" Then CallerKey = c.Cells(1, 1).Address(External:=True)
    Exit Function
none:
    CallerKey = ""
End Function

' An array result fitted to the calling range: a single cell or a dynamic
' array gets it whole; a selected range at least as large gets it padded
' with empty text; a smaller selected range is refused (msg), as it would
' silently cut the result.
Private Function Shaped(ByVal result As Variant, ByRef msg As String) As Variant
    Dim c As Variant, nr As Long, nc As Long, r As Long, k As Long, out() As Variant
    Dim nRows As Long, nCols As Long
    msg = ""
    Shaped = result
    nRows = UBound(result, 1): nCols = UBound(result, 2)
    On Error GoTo whole
    Set c = Application.Caller
    If TypeName(c) <> "Range" Then Exit Function
    nr = c.Rows.Count: nc = c.Columns.Count
    On Error GoTo 0
    If nr = 1 And nc = 1 Then Exit Function
    If nr < nRows Or nc < nCols Then
        msg = "the result has " & nRows & " rows and " & nCols & " columns: select at least " & _
            "that many cells for the formula (or enter it in one cell where dynamic arrays spill)"
        Exit Function
    End If
    ReDim out(1 To nr, 1 To nc)
    For r = 1 To nr
        For k = 1 To nc
            If r <= nRows And k <= nCols Then out(r, k) = result(r, k) Else out(r, k) = ""
        Next k
    Next r
    Shaped = out
    Exit Function
whole:
End Function

' ------------------------------------------------------ status messages

' The laboratory library's text for a code (QVXL_TEXT): KIND 1 its own
' statuses, 2 sample flags, 3 sources of u(y), 10 to 15 the statuses of
' OLSPFIT, GLSPFIT, POLYEVAL, IPVAL, LINEAR_CONV, IPVAL_DEGREE1.  A code
' without a text gives "status <code> (see quorvex_lab.h)".
Private Function LabText(ByVal kind As Long, ByVal code As Long) As String
    Dim buf() As Byte, room As Long, needed As Long, istatus As Long, s As String
    Dim nul As Long
    room = 256
    Do
        ReDim buf(0 To room - 1)
        QVXL_TEXT kind, code, buf(0), room, needed, istatus
        If istatus <> 0 Then
            LabText = "status " & code & " (see quorvex_lab.h)"
            Exit Function
        End If
        If needed < room Then Exit Do
        room = needed + 1
    Loop
    s = StrConv(buf, vbUnicode)
    nul = InStr(s, vbNullChar)
    If nul > 0 Then s = Left$(s, nul - 1)
    LabText = s
End Function

' An engine status's text with the call's values in its placeholders.
Private Function EngineText(ByVal kind As Long, ByVal code As Long, ByVal npts As Long, _
        ByVal ncoef As Long, ByVal xmin As Double, ByVal xmax As Double) As String
    Dim s As String
    s = LabText(kind, code)
    s = Replace(s, "{npts}", CStr(npts))
    s = Replace(s, "{ncoef}", CStr(ncoef))
    s = Replace(s, "{xmin}", CStr(xmin))
    s = Replace(s, "{xmax}", CStr(xmax))
    EngineText = s
End Function

' --------------------------------------------------------- worked macro

' The worked example.  On the active sheet:
'   B1         number of coefficients NCOEF (degree + 1), 1 to 10
'   D1         the weighting preset: empty, 1/x or 1/x2 (without u(y) only)
'   A4:E...    the standards, one per row down to the first empty cell in
'              column A: x, response y, optionally u(y) in C (all or none)
'              and u(x) in D (all or none; needs u(y)), and in E the reason
'              a standard is left out of the fit (empty: fitted)
'   F4:H...    responses of unknown samples, down to the first empty cell
'              in column F: y, its u(y) in G, the number of readings
'              averaged in H (empty: 1).  G empty takes the library's
'              default u(y) (the scatter of the standards at the sample's x,
'              for the mean of the readings), which needs standards without
'              u(y); "curve-only" in G takes u(y) = 0.
' The macro owns columns I to AJ: it clears them from row 1 down to the
' sheet's last used row before it writes anything, so a rerun with fewer
' samples, standards or coefficients leaves no old numbers behind.  It writes
'   I1         what it did, or why it stopped
'   I2         "calibration not fit for use" when the verdict says so
'   I3:K...    the Chebyshev record: COEF(k) with u, SRES, dof, the
'              interval, the covariance the uncertainties use, the fit, the
'              weighting and every standard left out with its reason
'   M3:O...    the same curve in powers of x with standard uncertainties
'   Q3:Z...    per sample: x, u(x), U, k, dof, the inversion interval, the
'              u(y) used and where it came from, the flags
'   AB3:AG8    the verdict: each criterion and the overall verdict
'   AI3:AJ17   the detection limits at a blank x = 0
Public Sub QuorvexCalibrate()
    Dim sh As Worksheet
    Set sh = ActiveSheet
    ClearOutput sh
    Calibrate sh
End Sub

' Clears the macro's output region, I1 to AJ of the last used row.
Private Sub ClearOutput(ByVal sh As Worksheet)
    Dim lastRow As Long
    lastRow = sh.UsedRange.Row + sh.UsedRange.Rows.Count - 1
    If lastRow < 17 Then lastRow = 17
    sh.Range(sh.Cells(1, OUT_FIRST_COL), sh.Cells(lastRow, OUT_LAST_COL)).ClearContents
End Sub

Private Sub Calibrate(ByVal sh As Worksheet)
    Dim nStd As Long, nSmp As Long, nc As Long, i As Long, j As Long, k As Long, rw As Long
    Dim f As QvxFit, msg As String, code As Long, cval As Variant, overall As Long
    Dim xs As Range, ys As Range, uys As Variant, uxs As Variant, why As Range
    Dim a() As Double, ca() As Double, block As Variant, lims As Variant, limMsg As String
    Dim r As QvxReading, values As Variant, labels As Variant

    cval = sh.Range("B1").Value2
    If Not IsNumber(cval) Then
        Report sh, "B1 must hold the number of coefficients (degree + 1)."
        Exit Sub
    End If
    nc = CLng(cval)
    nStd = CountDown(sh.Range("A4"))
    nSmp = CountDown(sh.Range("F4"))
    If nStd = 0 Then
        Report sh, "No standards in A4:B."
        Exit Sub
    End If
    Set xs = sh.Range("A4").Resize(nStd, 1)
    Set ys = sh.Range("B4").Resize(nStd, 1)
    Set why = sh.Range("E4").Resize(nStd, 1)
    uys = Empty
    uxs = Empty
    If Application.WorksheetFunction.CountBlank(sh.Range("C4").Resize(nStd, 1)) < nStd Then
        Set uys = sh.Range("C4").Resize(nStd, 1)
    End If
    If Application.WorksheetFunction.CountBlank(sh.Range("D4").Resize(nStd, 1)) < nStd Then
        Set uxs = sh.Range("D4").Resize(nStd, 1)
    End If
    If Not LoadDll(msg) Then
        Report sh, msg
        Exit Sub
    End If
    If Not FitFromRanges(xs, ys, uys, uxs, nc - 1, sh.Range("D1"), why, Empty, Empty, f, msg, _
            code) Then
        Report sh, "The fit failed: " & msg
        Exit Sub
    End If

    ' The Chebyshev record.
    sh.Range("I3:K3").Value = Array("Chebyshev", "value", "u")
    For k = 1 To nc
        sh.Cells(3 + k, COL_RECORD).Value = "COEF(" & k & ")"
        sh.Cells(3 + k, COL_RECORD + 1).Value = f.coef(k)
        sh.Cells(3 + k, COL_RECORD + 2).Value = RootOf(f.cov(k, k))
    Next k
    rw = 4 + nc
    sh.Cells(rw, COL_RECORD).Value = "SRES"
    sh.Cells(rw, COL_RECORD + 1).Value = f.sres
    sh.Cells(rw + 1, COL_RECORD).Value = "dof"
    sh.Cells(rw + 1, COL_RECORD + 1).Value = f.dof
    sh.Cells(rw + 2, COL_RECORD).Value = "interval"
    sh.Cells(rw + 2, COL_RECORD + 1).Value = f.xmin
    sh.Cells(rw + 2, COL_RECORD + 2).Value = f.xmax
    sh.Cells(rw + 3, COL_RECORD).Value = "covariance"
    sh.Cells(rw + 3, COL_RECORD + 1).Value = IIf(f.scaled, "scaled by the scatter", "stated u(y)")
    sh.Cells(rw + 4, COL_RECORD).Value = "fit"
    sh.Cells(rw + 4, COL_RECORD + 1).Value = f.routine
    sh.Cells(rw + 5, COL_RECORD).Value = "weighting"
    sh.Cells(rw + 5, COL_RECORD + 1).Value = f.wname
    rw = rw + 6
    If f.vmodel >= 0 Then
        ' The variance model that weighted the fit: sigma = a (constant),
        ' b x (proportional), sqrt(a^2 + b^2 x^2) (floor), a |mu|^b (power).
        sh.Cells(rw, COL_RECORD).Value = "variance model: " & VarianceName(f.vmodel) & _
            ", from the " & f.vsource
        sh.Cells(rw, COL_RECORD + 1).Value = f.vpar(1)
        sh.Cells(rw, COL_RECORD + 2).Value = f.vpar(2)
        rw = rw + 1
    End If
    For i = 1 To f.nstd
        If Not f.kept(i) Then
            sh.Cells(rw, COL_RECORD).Value = "left out: row " & (3 + i)
            sh.Cells(rw, COL_RECORD + 1).Value = f.sx(i)
            sh.Cells(rw, COL_RECORD + 2).Value = f.reason(i)
            rw = rw + 1
        End If
    Next i

    ' The same curve in powers of x (LINEAR_CONV for a straight line).
    If nc = 2 Then
        If Not LineForm(f, a, ca, msg, code) Then
            Report sh, "The straight-line form failed: " & msg
            Exit Sub
        End If
    ElseIf Not PowerForm(f, a, ca, msg, code) Then
        Report sh, "The power form failed: " & msg
        Exit Sub
    End If
    sh.Range("M3:O3").Value = Array("power form", "value", "u")
    For k = 1 To nc
        sh.Cells(3 + k, COL_POWER).Value = PowerName(k - 1)
        sh.Cells(3 + k, COL_POWER + 1).Value = a(k)
        sh.Cells(3 + k, COL_POWER + 2).Value = RootOf(ca(k, k))
    Next k

    ' The verdict, and the banner when the calibration is not fit for use.
    If VerdictBlock(f, Empty, Empty, block, overall, msg, code) Then
        For i = 1 To 6
            For j = 1 To 6
                sh.Cells(2 + i, COL_VERDICT + j - 1).Value = block(i, j)
            Next j
        Next i
        If overall = 0 Then sh.Cells(2, OUT_FIRST_COL).Value = LabText(6, overall)
    Else
        sh.Cells(3, COL_VERDICT).Value = "no verdict: " & msg
    End If

    ' The detection limits at a blank x = 0; samples are flagged against them.
    If LimitsBlock(f, Empty, Empty, Empty, Empty, Empty, Empty, Empty, lims, limMsg, code) Then
        For i = 1 To 15
            sh.Cells(2 + i, COL_LIMITS).Value = lims(i, 1)
            sh.Cells(2 + i, COL_LIMITS + 1).Value = lims(i, 2)
        Next i
    Else
        sh.Cells(3, COL_LIMITS).Value = "detection limits not available: " & limMsg
        lims = Empty
    End If

    ' Every sample's response read back.
    labels = ReadLabels()
    For j = 1 To 10
        sh.Cells(3, COL_SAMPLES + j - 1).Value = labels(1, j)
    Next j
    For i = 1 To nSmp
        If Not ReadCell(sh.Cells(3 + i, 6), sh.Cells(3 + i, 7), FitBlock(f), sh.Cells(3 + i, 8), _
                Empty, lims, Empty, f, r, msg, code) Then
            sh.Cells(3 + i, COL_SAMPLES).Value = "row " & (3 + i) & ": " & msg
        Else
            values = Array(ToCell(r.roots(1)), ToCell(r.uroots(1)), ToCell(r.u), ToCell(r.k), _
                ToCell(r.dof), ToCell(r.low), ToCell(r.high), ToCell(r.uy), r.source, r.flagText)
            For j = 1 To 10
                sh.Cells(3 + i, COL_SAMPLES + j - 1).Value = values(j - 1)
            Next j
        End If
    Next i
    Report sh, "Calibrated: " & f.nstd & " standards, degree " & (nc - 1) & ", " & nSmp & _
        " sample(s) read back."
End Sub

' The macro's status line in I1; a message box when it stopped early.
Private Sub Report(ByVal sh As Worksheet, ByVal msg As String)
    sh.Cells(1, OUT_FIRST_COL).Value = msg
    If Left$(msg, 11) <> "Calibrated:" Then MsgBox msg, vbExclamation, "quorvex"
End Sub

' Fills a new sheet with a small example (absorbance of standard solutions,
' mg/L, and four unknown samples; the package's example-sheet.csv) and runs
' QuorvexCalibrate on it.
Public Sub QuorvexExample()
    Dim sh As Worksheet
    Dim conc As Variant, absorb As Variant, sy As Variant
    Dim i As Long
    conc = Array(0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10)
    absorb = Array(0.012, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996, 0.8903, _
        1.165, 1.1718, 1.4386, 1.4368)
    sy = Array(0.085, 0.452, 0.931, 1.305)

    ' A new sheet: nothing of an earlier run to clear.
    Set sh = ThisWorkbook.Worksheets.Add
    sh.Range("A1").Value = "NCOEF"
    sh.Range("B1").Value = 2
    sh.Range("C1").Value = "weighting"
    sh.Range("A3:E3").Value = Array("x", "y", "u(y)", "u(x)", "left out because")
    sh.Range("F3:H3").Value = Array("y", "u(y)", "readings")
    For i = 0 To UBound(conc)
        sh.Cells(4 + i, 1).Value = conc(i)
        sh.Cells(4 + i, 2).Value = absorb(i)
    Next i
    For i = 0 To UBound(sy)
        sh.Cells(4 + i, 6).Value = sy(i)
    Next i
    ' The second sample is the mean of 3 readings; the third has a stated u(y).
    sh.Cells(5, 8).Value = 3
    sh.Cells(6, 7).Value = 0.0053
    sh.Activate
    QuorvexCalibrate
End Sub

' Number of filled cells from `first` down to the first empty one.
Private Function CountDown(ByVal first As Range) As Long
    Dim n As Long
    Do While Not IsEmpty(first.Offset(n, 0).Value)
        n = n + 1
    Loop
    CountDown = n
End Function

' ============================================== correlated standards
'
' =QVX_CORRELATED(x, y, samples, [u_x], [u_y], [degree], [src_x], [src_y],
'                 [src_samples], [parent], [relative], [stock], [samples_u_y])
'   Samples read off a curve fitted to standards that share their errors
'   (generalized Gauss-Markov regression, ISO/TS 28037 clause 10): one row
'   per sample with x and u(x) with the stated correlations, then x and u(x)
'   of the same standards fitted with every correlation ignored, side by
'   side.
'   u_x, u_y      the standards' independent standard uncertainties: one
'                 value or one per standard (left out: 0)
'   degree        of the curve (left out: 1)
'   src_x, src_y  common sources (a stock, a balance, an instrument's drift):
'                 one row per standard, one column per source, each value's
'                 standard uncertainty from that source, signed by its
'                 direction; one source's contributions are fully correlated
'   src_samples   the samples' contributions from the same sources (one row
'                 per sample, the same columns): shared with the standards
'   parent        the dilution chain: the number (1..n) of the standard each
'                 was prepared from, 0 for the stock (ISO 6143 5.4.2)
'   relative      each step's relative standard uncertainty (one value or
'                 one per standard); stock: the stock's (left out: 0)
'   samples_u_y   the samples' independent u(y) (one value or one per sample)
' Every number comes from QUORVEXlab1.dll: QVXL_GGM_DILUTION and
' QVXL_GGM_COMPONENTS build the standards' covariance, QVXL_GGM_FIT fits
' (bit 8 of DEFAULTS: the fit ignoring the correlations), QVXL_GGM_SHARED and
' QVXL_GGM_INVERSE read the samples back, QVXL_TEXT words the statuses.
Public Function QVX_CORRELATED(ByVal x As Variant, ByVal y As Variant, ByVal samples As Variant, _
        Optional ByVal u_x As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal degree As Variant, Optional ByVal src_x As Variant, _
        Optional ByVal src_y As Variant, Optional ByVal src_samples As Variant, _
        Optional ByVal parent As Variant, Optional ByVal relative As Variant, _
        Optional ByVal stock As Variant, Optional ByVal samples_u_y As Variant) As Variant
    Dim out As Variant, msg As String
    On Error GoTo unexpected
    If GgmCorrelated(x, y, samples, u_x, u_y, degree, src_x, src_y, src_samples, parent, _
            relative, stock, samples_u_y, out, msg) Then
        QVX_CORRELATED = Finish(out, "QVX_CORRELATED")
    Else
        QVX_CORRELATED = Fail(xlErrValue, "QVX_CORRELATED: " & msg)
    End If
    Exit Function
unexpected:
    QVX_CORRELATED = Fail(xlErrValue, "QVX_CORRELATED: " & Err.Description)
End Function

' The labels of QVX_CORRELATED's columns.
Public Function QVX_CORRELATED_LABELS() As Variant
    Dim out(1 To 1, 1 To 4) As Variant
    out(1, 1) = "x": out(1, 2) = "u(x)"
    out(1, 3) = "x ignoring the correlations": out(1, 4) = "u(x) ignoring them"
    QVX_CORRELATED_LABELS = Finish(out, "QVX_CORRELATED_LABELS")
End Function

Private Function GgmCorrelated(ByVal x As Variant, ByVal y As Variant, ByVal samples As Variant, _
        ByVal u_x As Variant, ByVal u_y As Variant, ByVal degree As Variant, _
        ByVal src_x As Variant, ByVal src_y As Variant, ByVal src_samples As Variant, _
        ByVal parent As Variant, ByVal relative As Variant, ByVal stock As Variant, _
        ByVal samples_u_y As Variant, ByRef out As Variant, ByRef msg As String) As Boolean
    Dim xs() As Double, ys() As Double, ysm() As Double, n As Long, ny As Long, m As Long
    Dim uxi() As Double, uyi() As Double, uys() As Double, d As Double
    Dim nc As Long, ns As Long, nsy As Long, nsm As Long, i As Long, k As Long, st As Long
    Dim uxs() As Double, uysrc() As Double, usmp() As Double, ustd() As Double
    Dim v() As Double, par() As Long, rel() As Double, rstock As Double, ibad As Long
    Dim vs() As Double, czs() As Double, shareMode As Long, add As Long
    Dim a As GgmResult, b As GgmResult
    Dim xo() As Double, covx() As Double, ux() As Double
    Dim xi() As Double, covi() As Double, uxo() As Double, res() As Variant

    If Not Numbers(x, "x", xs, n, msg) Then Exit Function
    If Not Numbers(y, "y", ys, ny, msg) Then Exit Function
    If ny <> n Then
        msg = "x has " & n & " values, y " & ny & ": give one y per standard"
        Exit Function
    End If
    If Not Numbers(samples, "samples", ysm, m, msg) Then Exit Function
    If Not GgmPer(u_x, "u_x", n, "standard", uxi, msg) Then Exit Function
    If Not GgmPer(u_y, "u_y", n, "standard", uyi, msg) Then Exit Function
    If Not GgmPer(samples_u_y, "samples_u_y", m, "sample", uys, msg) Then Exit Function
    nc = 2
    If Given(degree) Then
        If Not OneNumber(degree, "degree", d, msg) Then Exit Function
        If d <> Int(d) Or d < 0 Or d > 9 Then
            msg = "the degree must be a whole number from 0 to 9, not " & d
            Exit Function
        End If
        nc = CLng(d) + 1
    End If

    ' The standards' covariance V: the dilution chain, then the independent
    ' parts and the common sources added to it.
    ReDim v(1 To 2 * n, 1 To 2 * n)
    add = 1
    If Given(parent) Then
        If Not GgmWhole(parent, "parent", n, par, msg) Then Exit Function
        If Not GgmPer(relative, "relative", n, "standard", rel, msg) Then Exit Function
        rstock = 0
        If Given(stock) Then
            If Not OneNumber(stock, "stock", rstock, msg) Then Exit Function
        End If
        QVXL_GGM_DILUTION n, xs(1), par(1), rel(1), rstock, add, v(1, 1), ibad, st
        If st <> 0 Then
            msg = "dilution: " & LabText(1, st)
            If ibad > 0 Then msg = msg & " (standard " & ibad & ")"
            Exit Function
        End If
    End If
    If Not GgmBlock(src_x, "src_x", n, "standard", uxs, ns, msg) Then Exit Function
    If Not GgmBlock(src_y, "src_y", n, "standard", uysrc, nsy, msg) Then Exit Function
    If Not GgmBlock(src_samples, "src_samples", m, "sample", usmp, nsm, msg) Then Exit Function
    If ns = 0 Then ns = nsy
    If ns = 0 Then ns = nsm
    If (nsy <> 0 And nsy <> ns) Or (nsm <> 0 And nsm <> ns) Then
        msg = "src_x, src_y and src_samples must have one column per source, the same number"
        Exit Function
    End If
    ' A part left out has nothing from the sources (one column of zeros
    ' where there are none, for the library's unread argument).
    If ns > 0 Then k = ns Else k = 1
    If Not Given(src_x) Then ReDim uxs(1 To n, 1 To k)
    If Not Given(src_y) Then ReDim uysrc(1 To n, 1 To k)
    If Not Given(src_samples) Then ReDim usmp(1 To m, 1 To k)
    QVXL_GGM_COMPONENTS n, ns, uxi(1), uyi(1), uxs(1, 1), uysrc(1, 1), add, v(1, 1), st
    If st <> 0 Then
        msg = "the standards' uncertainties: " & LabText(1, st)
        Exit Function
    End If

    ' The fit with the stated correlations, then with V's diagonal only.
    If Not GgmFit(n, xs, ys, v, nc, 0, a, msg) Then Exit Function
    b.interval(1) = a.interval(1): b.interval(2) = a.interval(2)
    If Not GgmFit(n, xs, ys, v, nc, 1 + 8, b, msg) Then b.ok = False: msg = ""

    ' What the samples share with each other and with the standards.
    ReDim ustd(1 To 2 * n, 1 To UBound(uxs, 2))
    For k = 1 To UBound(uxs, 2)
        For i = 1 To n
            ustd(i, k) = uxs(i, k)
            ustd(n + i, k) = uysrc(i, k)
        Next i
    Next k
    ReDim vs(1 To m, 1 To m), czs(1 To 2 * n, 1 To m)
    QVXL_GGM_SHARED n, m, ns, ustd(1, 1), usmp(1, 1), uys(1), vs(1, 1), czs(1, 1), st
    If st <> 0 Then
        msg = "samples: " & LabText(1, st)
        Exit Function
    End If
    If Given(src_samples) Then shareMode = 1 Else shareMode = 0

    ReDim xo(1 To m), covx(1 To m, 1 To m), ux(1 To m)
    QVXL_GGM_INVERSE nc, a.coef(1), a.cov(1, 1), a.interval(1), a.interval(2), n, a.gain(1, 1), _
        m, ysm(1), vs(1, 1), shareMode, czs(1, 1), xo(1), covx(1, 1), ux(1), st
    If st <> 0 Then
        msg = "the samples cannot be read back: " & LabText(1, st)
        Exit Function
    End If
    ReDim xi(1 To m), covi(1 To m, 1 To m), uxo(1 To m)
    For i = 1 To m
        xi(i) = NaN(): uxo(i) = NaN()
    Next i
    If b.ok Then
        QVXL_GGM_INVERSE nc, b.coef(1), b.cov(1, 1), b.interval(1), b.interval(2), n, _
            b.gain(1, 1), m, ysm(1), vs(1, 1), 2, czs(1, 1), xi(1), covi(1, 1), uxo(1), st
        If st <> 0 And st <> 96 Then
            msg = "the samples cannot be read back ignoring the correlations: " & LabText(1, st)
            Exit Function
        End If
    End If
    ReDim res(1 To m, 1 To 4)
    For i = 1 To m
        res(i, 1) = ToCell(xo(i)): res(i, 2) = ToCell(ux(i))
        res(i, 3) = ToCell(xi(i)): res(i, 4) = ToCell(uxo(i))
    Next i
    out = res
    GgmCorrelated = True
End Function

' One fit of QVXL_GGM_FIT (DEFAULTS 0: every option chosen; 1 + 8: on the
' interval in r, with V's diagonal only).  An unconverged fit is accepted
' only where the correlations are ignored, as the Python package does.
Private Function GgmFit(ByVal n As Long, ByRef xs() As Double, ByRef ys() As Double, _
        ByRef v() As Double, ByVal nc As Long, ByVal defaults As Long, ByRef r As GgmResult, _
        ByRef msg As String) As Boolean
    Dim tol As Double, maxit As Long, chi2 As Double, ndof As Long, st As Long
    Dim xadj() As Double, fitted() As Double, info(1 To 3) As Long
    ReDim r.coef(1 To nc), r.cov(1 To nc, 1 To nc), r.gain(1 To nc, 1 To 2 * n)
    ReDim xadj(1 To n), fitted(1 To n)
    QVXL_GGM_FIT n, xs(1), ys(1), v(1, 1), nc, defaults, r.interval(1), tol, maxit, r.coef(1), _
        r.cov(1, 1), chi2, ndof, xadj(1), fitted(1), r.gain(1, 1), info(1), st
    If st = 0 Or (st = 92 And defaults >= 8) Then
        r.ok = True
        GgmFit = True
        Exit Function
    End If
    msg = "the standards cannot be fitted: " & LabText(1, st)
    If info(2) > 0 Then
        msg = msg & " (standard " & info(2) & ", its " & IIf(info(3) = 1, "x", "y") & ")"
    End If
End Function

' One value for every standard (or sample), one for each, or left out: 0.
Private Function GgmPer(ByVal a As Variant, ByVal what As String, ByVal n As Long, _
        ByVal unit As String, ByRef out() As Double, ByRef msg As String) As Boolean
    Dim vals() As Double, k As Long, i As Long
    ReDim out(1 To n)
    If Given(a) Then
        If Not Numbers(a, what, vals, k, msg) Then Exit Function
        If k <> 1 And k <> n Then
            msg = what & " has " & k & " values for " & n & " " & unit & "s: give one, or one per " & unit
            Exit Function
        End If
        For i = 1 To n
            If k = 1 Then out(i) = vals(1) Else out(i) = vals(i)
        Next i
    End If
    GgmPer = True
End Function

' Whole numbers, one per standard (the dilution chain's parents).
Private Function GgmWhole(ByVal a As Variant, ByVal what As String, ByVal n As Long, _
        ByRef out() As Long, ByRef msg As String) As Boolean
    Dim vals() As Double, k As Long, i As Long
    If Not Numbers(a, what, vals, k, msg) Then Exit Function
    If k <> n Then
        msg = what & " has " & k & " values for " & n & " standards: give one per standard"
        Exit Function
    End If
    ReDim out(1 To n)
    For i = 1 To n
        If vals(i) <> Int(vals(i)) Or Abs(vals(i)) > 2147483647# Then
            msg = what & ": value " & i & " is not a standard's number: " & vals(i)
            Exit Function
        End If
        out(i) = CLng(vals(i))
    Next i
    GgmWhole = True
End Function

' A block of one row per standard (or sample) and one column per source;
' left out: no columns (nc = 0).
Private Function GgmBlock(ByVal a As Variant, ByVal what As String, ByVal nr As Long, _
        ByVal unit As String, ByRef out() As Double, ByRef nc As Long, ByRef msg As String) As Boolean
    Dim v As Variant, r0 As Long, c0 As Long, rows As Long, i As Long, j As Long
    nc = 0
    If Not Given(a) Then
        GgmBlock = True
        Exit Function
    End If
    If IsObject(a) Then
        If TypeName(a) <> "Range" Then
            msg = what & " is not a range of cells"
            Exit Function
        End If
        v = a.Value2
    Else
        v = a
    End If
    If Not IsArray(v) Then
        ReDim out(1 To 1, 1 To 1)
        If Not OneNumber(v, what, out(1, 1), msg) Then Exit Function
        rows = 1: nc = 1
    ElseIf TwoDims(v, r0, c0, rows, nc) Then
        If rows <> nr Then
            msg = what & " has " & rows & " rows for " & nr & " " & unit & "s: give one row per " & unit
            Exit Function
        End If
        ReDim out(1 To nr, 1 To nc)
        For i = 1 To nr
            For j = 1 To nc
                If Not CellNumber(v(r0 + i - 1, c0 + j - 1), what, (i - 1) * nc + j, out(i, j), msg) Then _
                    Exit Function
            Next j
        Next i
    Else
        msg = what & " must be a block of one row per " & unit
        Exit Function
    End If
    If rows <> nr Then
        msg = what & " has " & rows & " rows for " & nr & " " & unit & "s: give one row per " & unit
        Exit Function
    End If
    GgmBlock = True
End Function
