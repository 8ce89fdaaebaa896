Attribute VB_Name = "quorvex"
' quorvex.bas -- the six entry points of QUORVEXv1.dll for spreadsheet
' macros (VBA), and a worked calibration macro.
'
' Import it in the VBA editor (File > Import File...).  The DLL must match
' the host, not Windows: a 64-bit host (the default of current office
' suites) loads only the 64-bit QUORVEXv1.dll (build-windows64/), a 32-bit
' host only the 32-bit one (build-windows/).  Put the right one next to the
' workbook: QuorvexLoad loads it from there, and the declarations below then
' bind to it.
'
' Every argument is passed ByRef: a 32-bit integer as Long, a real as
' Double, an array by its first element (COEF(1)).  VBA stores a matrix
' column by column, as the library reads it, so a matrix dimensioned
' (1 To NCOEF, 1 To NCOEF) is passed as COV(1, 1).  The declarations are
' those of include/quorvex.h, argument for argument; the status codes are
' listed there.
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
Private Declare PtrSafe Function LoadLibraryW Lib "kernel32" ( _
    ByVal lpLibFileName As LongPtr) As LongPtr
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
Private Declare Function LoadLibraryW Lib "kernel32" ( _
    ByVal lpLibFileName As Long) As Long
#End If

' Loads QUORVEXv1.dll from the workbook's folder, once; the declarations
' above then use it.  Shows a message and returns False when it cannot be
' loaded (error 126: not found; error 193: the DLL of the other bitness).
Public Function QuorvexLoad() As Boolean
    Static isLoaded As Boolean
    Dim dllPath As String
    If Not isLoaded Then
        dllPath = ThisWorkbook.Path & Application.PathSeparator & "QUORVEXv1.dll"
        If LoadLibraryW(StrPtr(dllPath)) = 0 Then
#If Win64 Then
            MsgBox "Cannot load " & dllPath & " (error " & Err.LastDllError & ")." & vbLf & _
                "This host is 64-bit: it needs the 64-bit QUORVEXv1.dll (build-windows64).", _
                vbCritical, "quorvex"
#Else
            MsgBox "Cannot load " & dllPath & " (error " & Err.LastDllError & ")." & vbLf & _
                "This host is 32-bit: it needs the 32-bit QUORVEXv1.dll (build-windows).", _
                vbCritical, "quorvex"
#End If
            Exit Function
        End If
        isLoaded = True
    End If
    QuorvexLoad = True
End Function

' The worked example.  On the active sheet:
'   B1         number of coefficients NCOEF (degree + 1), 2 to 10
'   A4:C...    the standards, one per row down to the first empty cell in
'              column A: x, response y, standard uncertainty u(y) > 0
'   E4:F...    responses of unknown samples, down to the first empty cell
'              in column E: y and its standard uncertainty u(y)
' The curve is fitted on [smallest x, largest x] with weights 1 / u(y)
' (OLSPFIT); its coefficients and their standard uncertainties go to
' H4:J..., the residual standard deviation below them.  Every response is
' then inverted (IPVAL): the number of roots in L, each root x and its
' standard uncertainty u(x) in M:N, O:P, ... (a curve that turns back can
' give a response more than one x; none when the response lies outside the
' curve's range on the interval).
Public Sub QuorvexCalibrate()
    Dim sh As Worksheet
    Dim nStd As Long, nSmp As Long, nc As Long, i As Long, j As Long, k As Long
    Dim istatus As Long
    Dim lo As Double, hi As Double
    Set sh = ActiveSheet

    nc = CLng(sh.Range("B1").Value)
    nStd = CountDown(sh.Range("A4"))
    nSmp = CountDown(sh.Range("E4"))
    If nc < 2 Or nc > 10 Then
        MsgBox "B1 must hold the number of coefficients, 2 to 10.", vbExclamation, "quorvex"
        Exit Sub
    End If
    If nStd < nc Then
        MsgBox "At least " & nc & " standards are needed in A4:C.", vbExclamation, "quorvex"
        Exit Sub
    End If
    If Not QuorvexLoad() Then Exit Sub

    ' The standards, and the interval they span.
    Dim xs() As Double, ys() As Double, ws() As Double
    ReDim xs(1 To nStd): ReDim ys(1 To nStd): ReDim ws(1 To nStd)
    For i = 1 To nStd
        xs(i) = sh.Cells(3 + i, 1).Value
        ys(i) = sh.Cells(3 + i, 2).Value
        If sh.Cells(3 + i, 3).Value <= 0 Then
            MsgBox "u(y) of the standard in row " & (3 + i) & " must be positive.", _
                vbExclamation, "quorvex"
            Exit Sub
        End If
        ws(i) = 1 / sh.Cells(3 + i, 3).Value
    Next i
    lo = Application.WorksheetFunction.Min(sh.Range("A4").Resize(nStd, 1))
    hi = Application.WorksheetFunction.Max(sh.Range("A4").Resize(nStd, 1))

    ' The weighted fit: nc coefficients and their nc x nc covariance.
    Dim coefs() As Double, coefCov() As Double
    Dim fitted() As Double, resid() As Double, wresid() As Double
    Dim resSd As Double, wresidMax As Double
    ReDim coefs(1 To nc): ReDim coefCov(1 To nc, 1 To nc)
    ReDim fitted(1 To nStd): ReDim resid(1 To nStd): ReDim wresid(1 To nStd)
    OLSPFIT nStd, xs(1), ys(1), ws(1), nc, lo, hi, coefs(1), coefCov(1, 1), resSd, _
        fitted(1), resid(1), wresid(1), wresidMax, istatus
    If istatus <> 0 Then
        MsgBox "OLSPFIT failed: ISTAT = " & istatus & " (see quorvex.h).", vbExclamation, "quorvex"
        Exit Sub
    End If

    sh.Range("H3:J3").Value = Array("coefficient", "value", "u")
    For k = 1 To nc
        sh.Cells(3 + k, 8).Value = "COEF(" & k & ")"
        sh.Cells(3 + k, 9).Value = coefs(k)
        sh.Cells(3 + k, 10).Value = Sqr(coefCov(k, k))
    Next k
    sh.Cells(4 + nc, 8).Value = "SRES"
    sh.Cells(4 + nc, 9).Value = resSd
    sh.Cells(5 + nc, 8).Value = "interval"
    sh.Cells(5 + nc, 9).Value = lo
    sh.Cells(5 + nc, 10).Value = hi
    If nSmp = 0 Then Exit Sub

    ' Inverse prediction of every response.  COVY is the full nSmp x nSmp
    ' covariance of the responses (the library reads its diagonal); XROOT
    ' and UXROOT hold up to nc - 1 roots per response.
    Dim resp() As Double, respCov() As Double, roots() As Double, uroots() As Double
    Dim nroots() As Long, gridCount As Long, ztol As Double
    ReDim resp(1 To nSmp): ReDim respCov(1 To nSmp, 1 To nSmp)
    ReDim nroots(1 To nSmp): ReDim roots(1 To nc - 1, 1 To nSmp)
    ReDim uroots(1 To nc - 1, 1 To nSmp)
    For i = 1 To nSmp
        resp(i) = sh.Cells(3 + i, 5).Value
        respCov(i, i) = sh.Cells(3 + i, 6).Value ^ 2
    Next i
    gridCount = 100
    ztol = 1E-12 * (hi - lo)
    IPVAL nc, coefs(1), coefCov(1, 1), nSmp, resp(1), respCov(1, 1), lo, hi, gridCount, ztol, _
        nroots(1), roots(1, 1), uroots(1, 1), istatus
    If istatus <> 0 Then
        MsgBox "IPVAL failed: ISTAT = " & istatus & " (see quorvex.h).", vbExclamation, "quorvex"
        Exit Sub
    End If

    sh.Range("L3:N3").Value = Array("roots", "x", "u(x)")
    For i = 1 To nSmp
        sh.Cells(3 + i, 12).Value = nroots(i)
        For j = 1 To nroots(i)
            sh.Cells(3 + i, 11 + 2 * j).Value = roots(j, i)
            sh.Cells(3 + i, 12 + 2 * j).Value = uroots(j, i)
        Next j
    Next i
End Sub

' Fills a new sheet with a small example (absorbance of standard solutions,
' mg/L, and four unknown samples) and runs QuorvexCalibrate on it.
Public Sub QuorvexExample()
    Dim sh As Worksheet
    Dim conc As Variant, absorb As Variant, uabs As Variant, sy As Variant, suy As Variant
    Dim i As Long
    conc = Array(0, 0, 1, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10)
    absorb = Array(0.012, 0.0125, 0.1637, 0.3119, 0.3131, 0.6041, 0.6082, 0.8996, 0.8903, _
        1.165, 1.1718, 1.4386, 1.4368)
    uabs = Array(0.0015, 0.0015, 0.0022, 0.0028, 0.0028, 0.0039, 0.0039, 0.0051, 0.0051, _
        0.0062, 0.0062, 0.0072, 0.0072)
    sy = Array(0.085, 0.452, 0.931, 1.305)
    suy = Array(0.002, 0.0035, 0.0053, 0.0067)

    Set sh = ThisWorkbook.Worksheets.Add
    sh.Range("A1").Value = "NCOEF"
    sh.Range("B1").Value = 3
    sh.Range("A3:C3").Value = Array("x", "y", "u(y)")
    sh.Range("E3:F3").Value = Array("y", "u(y)")
    For i = 0 To UBound(conc)
        sh.Cells(4 + i, 1).Value = conc(i)
        sh.Cells(4 + i, 2).Value = absorb(i)
        sh.Cells(4 + i, 3).Value = uabs(i)
    Next i
    For i = 0 To UBound(sy)
        sh.Cells(4 + i, 5).Value = sy(i)
        sh.Cells(4 + i, 6).Value = suy(i)
    Next i
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
