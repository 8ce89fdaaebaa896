Attribute VB_Name = "quorvex"
' quorvex.bas -- calibration curves in a spreadsheet: worksheet functions
' and a worked macro over QUORVEXlab1.dll, which holds every laboratory rule
' (the fit with its defaults, the power form, reading samples back with the
' default u(y), the status texts), and QUORVEXv1.dll (the curve's values, a
' straight line's intercept and slope).  The module computes nothing of its
' own: it turns cells into arguments and results into cells.
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
' Worksheet functions (errors come back as #VALUE! for wrong input and
' #NUM! for a calculation that has no answer; =QVX_ERROR(cell) says why):
'   =QVX_FIT(x, y, [u_y], [u_x], [degree])  the fit block (6 + degree + 1
'       rows, degree + 2 columns, at least 3): a dynamic array, or select the block and
'       enter it with Ctrl+Shift+Enter.  Without u_y the fit is unweighted
'       and its covariance is scaled by the scatter of the standards; with
'       u_y (one value or one per standard) the stated uncertainties weight
'       it and the covariance is not scaled; with u_x as well the fit
'       allows for the uncertainty of x (errors in variables).
'   =QVX_X(y, u_y, fit, [readings], [root])  the x of a response y
'   =QVX_UX(y, u_y, fit, [readings], [root]) its standard uncertainty u(x)
'       u_y empty or left out: for a fit scaled by the scatter, the scatter
'       of one reading (SRES) divided by the square root of readings; for a
'       fit with stated u_y an error that asks for u(y).  A number: the
'       stated u(y) (0 is the curve's part only).  The text "curve-only":
'       u(y) = 0.  root picks one x (1 = smallest) where the curve gives
'       the response at several.  A fit of degree 0 (a constant) cannot be
'       read back.  The library reads the response back (QVXL_READBACK) and
'       chooses the default u(y).
'   =QVX_UY(y, u_y, fit, [readings])         the u(y) used, as above
'   =QVX_Y(x, fit)                           the curve's response at x
'   =QVX_LINE(fit)       intercept and slope with u (2 rows, 3 columns)
'   =QVX_POWER(fit)      intercept, slope, x^2, ... with u (degree + 1 rows)
'   =QVX_ERROR([cell])   why the formula in cell failed ("" if it did not);
'                        without a cell, the latest failure's reason
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
Public Declare PtrSafe Sub QVXL_READBACK Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef SRES As Double, _
    ByRef WEIGHTING As Long, ByRef STATED As Long, ByRef XSTD As Double, _
    ByRef HASLIM As Long, ByRef LIMITS As Double, ByRef NPTS As Long, ByRef Y As Double, _
    ByRef UYMODE As Long, ByRef UY As Double, ByRef REPL As Double, ByRef LEVEL As Double, _
    ByRef NGRID As Long, ByRef TOL As Double, ByRef EXTRAP As Long, ByRef NROOT As Long, _
    ByRef ROOTS As Double, ByRef UROOTS As Double, ByRef UYUSED As Double, _
    ByRef UYSRC As Long, ByRef UCURVE As Double, ByRef DOF As Double, ByRef K As Double, _
    ByRef U As Double, ByRef LOW As Double, ByRef HIGH As Double, ByRef XEXT As Double, _
    ByRef UXEXT As Double, ByRef FLAGS As Long, ByRef ISTAT As Long)
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
Public Declare PtrSafe Sub QVXL_POWER Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef A As Double, ByRef CA As Double, ByRef ISTAT As Long)
Public Declare PtrSafe Sub QVXL_TEXT Lib "QUORVEXlab1.dll" ( _
    ByRef KIND As Long, ByRef CODE As Long, ByRef TEXT As Byte, ByRef LENGTH As Long, _
    ByRef NEEDED As Long, ByRef ISTAT As Long)
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
Public Declare Sub QVXL_READBACK Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef COVKIND As Long, ByRef NDOF As Long, ByRef SRES As Double, _
    ByRef WEIGHTING As Long, ByRef STATED As Long, ByRef XSTD As Double, _
    ByRef HASLIM As Long, ByRef LIMITS As Double, ByRef NPTS As Long, ByRef Y As Double, _
    ByRef UYMODE As Long, ByRef UY As Double, ByRef REPL As Double, ByRef LEVEL As Double, _
    ByRef NGRID As Long, ByRef TOL As Double, ByRef EXTRAP As Long, ByRef NROOT As Long, _
    ByRef ROOTS As Double, ByRef UROOTS As Double, ByRef UYUSED As Double, _
    ByRef UYSRC As Long, ByRef UCURVE As Double, ByRef DOF As Double, ByRef K As Double, _
    ByRef U As Double, ByRef LOW As Double, ByRef HIGH As Double, ByRef XEXT As Double, _
    ByRef UXEXT As Double, ByRef FLAGS As Long, ByRef ISTAT As Long)
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
Public Declare Sub QVXL_POWER Lib "QUORVEXlab1.dll" ( _
    ByRef NCOEF As Long, ByRef COEF As Double, ByRef COV As Double, ByRef XMIN As Double, _
    ByRef XMAX As Double, ByRef A As Double, ByRef CA As Double, ByRef ISTAT As Long)
Public Declare Sub QVXL_TEXT Lib "QUORVEXlab1.dll" ( _
    ByRef KIND As Long, ByRef CODE As Long, ByRef TEXT As Byte, ByRef LENGTH As Long, _
    ByRef NEEDED As Long, ByRef ISTAT As Long)
Private Declare Function LoadLibraryW Lib "kernel32" ( _
    ByVal lpLibFileName As Long) As Long
Private Declare Function GetModuleHandleW Lib "kernel32" ( _
    ByVal lpModuleName As Long) As Long
Private Declare Function GetFileAttributesW Lib "kernel32" ( _
    ByVal lpFileName As Long) As Long
#End If

Private Const DLL_NAME As String = "QUORVEXv1.dll"
Private Const LAB_DLL_NAME As String = "QUORVEXlab1.dll"
' The root search's grid, as the Python package uses it, and the coverage
' probability of the expanded uncertainty QVXL_READBACK also returns.
Private Const IPVAL_GRID As Long = 100
Private Const READ_LEVEL As Double = 0.95
' The worked macro owns the columns H to AJ of its sheet (8 to 36): it
' clears them from row 1 down before it writes.
Private Const OUT_FIRST_COL As Long = 8
Private Const OUT_LAST_COL As Long = 36
Private Const MAX_NCOEF As Long = 10

' A fitted curve, as a fit block holds it.
Private Type QvxFit
    ncoef As Long
    routine As String          ' "OLSPFIT" or "GLSPFIT"
    xmin As Double
    xmax As Double
    xlo As Double              ' the lowest and the highest standard
    xhi As Double
    sres As Double
    dof As Long
    scaled As Boolean          ' covariance scaled by the scatter (no stated u_y)
    coef() As Double           ' (1 To ncoef)
    cov() As Double            ' (1 To ncoef, 1 To ncoef), the one uncertainties use
End Type

' One response read back by QVXL_READBACK: the u(y) it used and where from,
' the x values that give the response (increasing) with their u(x); for the
' first, U = k u(x) with its k and degrees of freedom, the inversion interval
' and the sample flags (quorvex_lab.h).
Private Type QvxReading
    uy As Double
    source As String
    nroot As Long
    roots() As Double          ' (1 To ncoef - 1), NaN beyond nroot
    uroots() As Double
    ucurve As Double
    dof As Double
    k As Double
    u As Double
    low As Double
    high As Double
    flags As Long
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

' The fit block of the standards: x and y (ranges of one row or column, or
' arrays), u_y and u_x optional (one value, or one per standard), degree 0
' to 9 (default 1; 0 is a constant, which cannot be read back).
Public Function QVX_FIT(ByVal x As Variant, ByVal y As Variant, Optional ByVal u_y As Variant, _
        Optional ByVal u_x As Variant, Optional ByVal degree As Variant) As Variant
    Dim f As QvxFit, msg As String, code As Long
    On Error GoTo unexpected
    If Not FitFromRanges(x, y, u_y, u_x, degree, f, msg, code) Then
        QVX_FIT = Fail(code, msg)
        Exit Function
    End If
    QVX_FIT = Shaped(FitBlock(f), msg)
    If Len(msg) > 0 Then QVX_FIT = Fail(xlErrValue, msg) Else Succeed
    Exit Function
unexpected:
    QVX_FIT = Fail(xlErrValue, "QVX_FIT: " & Err.Description)
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
    Dim f As QvxFit, msg As String, yv As Double, mode As Long, uyv As Double, m As Double
    Dim r As QvxReading, code As Long
    On Error GoTo unexpected
    If Not ReadFit(fit, f, msg) Then
        QVX_UY = Fail(xlErrValue, "QVX_UY: " & msg)
    ElseIf Not OneNumber(y, "y", yv, msg) Then
        QVX_UY = Fail(xlErrValue, "QVX_UY: " & msg)
    ElseIf Not ResponseArgs(u_y, readings, mode, uyv, m, msg) Then
        QVX_UY = Fail(xlErrValue, "QVX_UY: " & msg)
    ElseIf Not LoadDll(msg) Then
        QVX_UY = Fail(xlErrValue, msg)
    ElseIf Not ReadBack(f, yv, mode, uyv, m, r, msg, code) Then
        QVX_UY = Fail(code, "QVX_UY: " & msg)
    Else
        QVX_UY = r.uy
        Succeed
    End If
    Exit Function
unexpected:
    QVX_UY = Fail(xlErrValue, "QVX_UY: " & Err.Description)
End Function

' The curve's response at x.
Public Function QVX_Y(ByVal x As Variant, ByVal fit As Variant) As Variant
    Dim f As QvxFit, msg As String, xv As Double, yv As Double, code As Long
    On Error GoTo unexpected
    If Not ReadFit(fit, f, msg) Then
        QVX_Y = Fail(xlErrValue, "QVX_Y: " & msg)
    ElseIf Not OneNumber(x, "x", xv, msg) Then
        QVX_Y = Fail(xlErrValue, "QVX_Y: " & msg)
    ElseIf Not LoadDll(msg) Then
        QVX_Y = Fail(xlErrValue, msg)
    ElseIf Not CurveAt(f, xv, yv, msg, code) Then
        QVX_Y = Fail(code, "QVX_Y: " & msg)
    Else
        QVX_Y = yv
        Succeed
    End If
    Exit Function
unexpected:
    QVX_Y = Fail(xlErrValue, "QVX_Y: " & Err.Description)
End Function

' Intercept and slope of a straight-line fit with their standard
' uncertainties: {"intercept", b, u(b); "slope", m, u(m)}.
Public Function QVX_LINE(ByVal fit As Variant) As Variant
    Dim f As QvxFit, msg As String, a() As Double, ua() As Double, out As Variant
    On Error GoTo unexpected
    If Not ReadFit(fit, f, msg) Then
        QVX_LINE = Fail(xlErrValue, "QVX_LINE: " & msg)
        Exit Function
    End If
    If f.ncoef <> 2 Then
        QVX_LINE = Fail(xlErrValue, "QVX_LINE: the fit is of degree " & (f.ncoef - 1) & _
            ", not a straight line; QVX_POWER gives its power coefficients")
        Exit Function
    End If
    If Not LoadDll(msg) Then
        QVX_LINE = Fail(xlErrValue, msg)
        Exit Function
    End If
    If Not LineForm(f, a, ua, msg) Then
        QVX_LINE = Fail(xlErrNum, "QVX_LINE: " & msg)
        Exit Function
    End If
    out = PowerTable(a, ua, 2)
    QVX_LINE = Shaped(out, msg)
    If Len(msg) > 0 Then QVX_LINE = Fail(xlErrValue, msg) Else Succeed
    Exit Function
unexpected:
    QVX_LINE = Fail(xlErrValue, "QVX_LINE: " & Err.Description)
End Function

' The curve in powers of x with standard uncertainties: one row per power,
' {"intercept", a0, u(a0); "slope", a1, u(a1); "x^2", a2, u(a2); ...}.
' For a high degree on an interval far from zero these are large numbers
' of opposite signs: report them, but compute with the fit block.
Public Function QVX_POWER(ByVal fit As Variant) As Variant
    Dim f As QvxFit, msg As String, a() As Double, ca() As Double, ua() As Double, k As Long
    Dim out As Variant
    On Error GoTo unexpected
    If Not ReadFit(fit, f, msg) Then
        QVX_POWER = Fail(xlErrValue, "QVX_POWER: " & msg)
        Exit Function
    End If
    If Not LoadDll(msg) Then
        QVX_POWER = Fail(xlErrValue, msg)
        Exit Function
    End If
    If Not PowerForm(f, a, ca, msg) Then
        QVX_POWER = Fail(xlErrNum, "QVX_POWER: " & msg)
        Exit Function
    End If
    ReDim ua(1 To f.ncoef)
    For k = 1 To f.ncoef
        ua(k) = Sqr(Abs(ca(k, k)))
    Next k
    out = PowerTable(a, ua, f.ncoef)
    QVX_POWER = Shaped(out, msg)
    If Len(msg) > 0 Then QVX_POWER = Fail(xlErrValue, msg) Else Succeed
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

' QVX_X (what = 1) and QVX_UX (what = 2).
Private Function InverseCell(ByVal y As Variant, ByVal u_y As Variant, ByVal fit As Variant, _
        ByVal readings As Variant, ByVal root As Variant, ByVal what As Long, _
        ByVal fname As String) As Variant
    Dim f As QvxFit, msg As String, yv As Double, mode As Long, uyv As Double, m As Double
    Dim r As QvxReading, code As Long, pick As Double, which As Long
    On Error GoTo unexpected
    If Not ReadFit(fit, f, msg) Then
        InverseCell = Fail(xlErrValue, fname & ": " & msg)
        Exit Function
    End If
    If Not OneNumber(y, "y", yv, msg) Then
        InverseCell = Fail(xlErrValue, fname & ": " & msg)
        Exit Function
    End If
    If Not ResponseArgs(u_y, readings, mode, uyv, m, msg) Then
        InverseCell = Fail(xlErrValue, fname & ": " & msg)
        Exit Function
    End If
    which = 0
    If Given(root) Then
        If Not OneNumber(root, "root", pick, msg) Then
            InverseCell = Fail(xlErrValue, fname & ": " & msg)
            Exit Function
        End If
        If pick <> Int(pick) Or pick < 1 Or pick > f.ncoef - 1 Or f.ncoef < 2 Then
            InverseCell = Fail(xlErrValue, fname & ": root must be a whole number from 1 to " & _
                (f.ncoef - 1))
            Exit Function
        End If
        which = CLng(pick)
    End If
    If Not LoadDll(msg) Then
        InverseCell = Fail(xlErrValue, msg)
        Exit Function
    End If
    If Not ReadBack(f, yv, mode, uyv, m, r, msg, code) Then
        InverseCell = Fail(code, fname & ": " & msg)
        Exit Function
    End If
    If r.nroot = 0 Then
        InverseCell = Fail(xlErrNum, fname & ": the response " & yv & _
            " is not reached by the curve on its interval [" & f.xmin & ", " & f.xmax & "]")
        Exit Function
    End If
    If which = 0 Then
        If r.nroot > 1 Then
            InverseCell = Fail(xlErrNum, fname & ": the curve reaches the response " & yv & _
                " at " & r.nroot & " x values; choose one with the argument root (1 = smallest)")
            Exit Function
        End If
        which = 1
    ElseIf which > r.nroot Then
        InverseCell = Fail(xlErrNum, fname & ": the curve reaches the response " & yv & _
            " at " & r.nroot & " x value(s), not " & which)
        Exit Function
    End If
    If what = 1 Then InverseCell = r.roots(which) Else InverseCell = r.uroots(which)
    Succeed
    Exit Function
unexpected:
    InverseCell = Fail(xlErrValue, fname & ": " & Err.Description)
End Function

' ------------------------------------------- numerical core (macro and UDFs)

' Reads and checks the standards, then fits.  code: the error value to
' return (#VALUE! for input, #NUM! for a fit that fails).
Private Function FitFromRanges(ByVal x As Variant, ByVal y As Variant, ByVal u_y As Variant, _
        ByVal u_x As Variant, ByVal degree As Variant, ByRef f As QvxFit, ByRef msg As String, _
        ByRef code As Long) As Boolean
    Dim xs() As Double, ys() As Double, uys() As Double, uxs() As Double
    Dim n As Long, m As Long, d As Double, ncoef As Long, haveUy As Boolean, haveUx As Boolean
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
    If d <> Int(d) Or d < 0 Or d > MAX_NCOEF - 1 Then
        msg = "degree must be a whole number from 0 to " & (MAX_NCOEF - 1) & ", not " & d
        Exit Function
    End If
    ncoef = CLng(d) + 1
    If n < ncoef Then
        msg = n & " standards cannot determine the " & ncoef & " coefficients of degree " & _
            (ncoef - 1)
        Exit Function
    End If
    If Not Distinct(xs, n) Then
        msg = "all " & n & " standards have x = " & xs(1) & ": a curve needs distinct x values"
        Exit Function
    End If
    haveUy = Given(u_y)
    haveUx = Given(u_x)
    If haveUy Then
        If Not PerStandard(u_y, "u_y", n, uys, msg) Then Exit Function
    End If
    If haveUx Then
        If Not haveUy Then
            msg = "u_x needs u_y too: the errors-in-variables fit weighs the x and y " & _
                "residuals by their uncertainties"
            Exit Function
        End If
        If Not PerStandard(u_x, "u_x", n, uxs, msg) Then Exit Function
    End If
    If Not LoadDll(msg) Then Exit Function
    FitFromRanges = FitCore(xs, ys, uys, uxs, haveUy, haveUx, n, ncoef, f, msg, code)
End Function

Private Function Distinct(ByRef xs() As Double, ByVal n As Long) As Boolean
    Dim i As Long
    For i = 2 To n
        If xs(i) <> xs(1) Then
            Distinct = True
            Exit Function
        End If
    Next i
End Function

' The fit through QVXL_FIT, which chooses everything the data leave open:
' weights 1/u(y) with stated u(y) (covariance stated), else unit weights
' (covariance scaled by the scatter); with u(x) the errors-in-variables fit
' with its default interval and tolerances.  The fit block keeps the
' covariance the uncertainties use, and the standards' range.  code: #VALUE!
' for input the library refuses, #NUM! for a fit that fails.
Private Function FitCore(ByRef xs() As Double, ByRef ys() As Double, ByRef uys() As Double, _
        ByRef uxs() As Double, ByVal haveUy As Boolean, ByVal haveUx As Boolean, _
        ByVal n As Long, ByVal ncoef As Long, ByRef f As QvxFit, ByRef msg As String, _
        ByRef code As Long) As Boolean
    Dim gvn As Long, weighting As Long, keep() As Long, defaults As Long, i As Long
    Dim interval(1 To 2) As Double, tols(1 To 2) As Double, maxit As Long, sigma As Double
    Dim covkind As Long, cov() As Double, chi2 As Double, ndof As Long, istatus As Long
    Dim fitted() As Double, res() As Double, wres() As Double, xadj() As Double
    Dim resx() As Double, wresx() As Double, wts() As Double, xwts() As Double
    Dim rinfo(1 To 4) As Double, info(1 To 5) As Long, hasux As Long, one(1 To 1) As Double
    code = xlErrValue
    If Not haveUy Then ReDim uys(1 To 1)
    If Not haveUx Then ReDim uxs(1 To 1)
    gvn = IIf(haveUy, 1, 0) + IIf(haveUx, 2, 0)
    weighting = 0
    defaults = 0
    covkind = -1
    ReDim keep(1 To n)
    For i = 1 To n
        keep(i) = 1
    Next i
    f.ncoef = ncoef
    f.routine = IIf(haveUx, "GLSPFIT", "OLSPFIT")
    ReDim f.coef(1 To ncoef): ReDim f.cov(1 To ncoef, 1 To ncoef)
    ReDim cov(1 To ncoef, 1 To ncoef)
    ReDim fitted(1 To n): ReDim res(1 To n): ReDim wres(1 To n): ReDim xadj(1 To n)
    ReDim resx(1 To n): ReDim wresx(1 To n): ReDim wts(1 To n): ReDim xwts(1 To n)
    QVXL_FIT n, xs(1), ys(1), uys(1), uxs(1), gvn, weighting, keep(1), ncoef, defaults, _
        interval(1), tols(1), maxit, sigma, covkind, f.coef(1), cov(1, 1), f.cov(1, 1), _
        f.sres, ndof, chi2, fitted(1), res(1), wres(1), xadj(1), resx(1), wresx(1), wts(1), _
        xwts(1), rinfo(1), info(1), istatus
    ' A stated covariance needs no scaling: an overflow of SRES^2 does not matter.
    If istatus = 39 And covkind = 0 Then istatus = 0
    If istatus <> 0 Then
        msg = FitStatusMessage(istatus, info, n, ncoef, interval(1), interval(2), haveUx)
        Select Case istatus
        Case 1 To 5, 30 To 35: code = xlErrValue
        Case Else: code = xlErrNum
        End Select
        Exit Function
    End If
    f.scaled = (covkind = 1)
    f.dof = ndof
    f.xmin = interval(1)
    f.xmax = interval(2)
    If f.scaled And ndof = 0 Then
        code = xlErrNum
        msg = n & " standards and " & ncoef & " coefficients leave no degrees of " & _
            "freedom to estimate the scatter: add standards or give u_y"
        Exit Function
    End If
    ' COV(f) is already the scaled covariance for a scaled fit: the stated one
    ' otherwise.
    If Not f.scaled Then f.cov = cov
    ' The standards' range, which the sample flags compare a reading with.
    hasux = 0
    QVXL_DEFAULT_INTERVAL n, xs(1), hasux, one(1), f.xlo, f.xhi, istatus
    If istatus <> 0 Then
        f.xlo = f.xmin
        f.xhi = f.xmax
    End If
    FitCore = True
End Function

' Why QVXL_FIT refused, in the user's terms: the library's text of its own
' status, and for a refusal of the engine's fit that of the fit's status.
Private Function FitStatusMessage(ByVal istatus As Long, ByRef info() As Long, ByVal n As Long, _
        ByVal ncoef As Long, ByVal xmin As Double, ByVal xmax As Double, _
        ByVal eiv As Boolean) As String
    Dim s As String
    Select Case istatus
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
            s = LabText(1, istatus) & ": its covariance is not finite (a degenerate design)"
        End If
    Case Else
        s = LabText(1, istatus)
    End Select
    FitStatusMessage = s
End Function

' The sample's u(y) argument as QVXL_READBACK takes it: mode 0 with the
' stated value uyv (a number >= 0; 0 is the curve's part only), mode 2 for
' the text "curve-only", or, left empty, mode 1: the library's default from
' the scatter of the calibration, for the mean of m readings.
Private Function ResponseArgs(ByVal u_y As Variant, ByVal readings As Variant, _
        ByRef mode As Long, ByRef uyv As Double, ByRef m As Double, ByRef msg As String) As Boolean
    Dim v As Variant
    m = 1
    If Given(readings) Then
        If Not OneNumber(readings, "readings", m, msg) Then Exit Function
        If m <> Int(m) Or m < 1 Then
            msg = "readings must be a whole number of at least 1, not " & m
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
    If uyv < 0 Then
        msg = "u_y = " & uyv & " is negative; give u(y) >= 0 (0 or curve-only: the curve's " & _
            "part alone)"
        Exit Function
    End If
    mode = 0
    ResponseArgs = True
End Function

' QVXL_READBACK for one response.  code: the error value to return.
Private Function ReadBack(ByRef f As QvxFit, ByVal yv As Double, ByVal mode As Long, _
        ByVal uyv As Double, ByVal m As Double, ByRef r As QvxReading, ByRef msg As String, _
        ByRef code As Long) As Boolean
    Dim covkind As Long, ndof As Long, weighting As Long, stated As Long, haslim As Long
    Dim xstd(1 To 2) As Double, limits(1 To 2) As Double, one As Long, level As Double
    Dim grid As Long, ztol As Double, extrap As Long, rows As Long, istatus As Long
    Dim ya(1 To 1) As Double, uya(1 To 1) As Double, repl(1 To 1) As Double
    Dim nroots(1 To 1) As Long, uyused(1 To 1) As Double, uysrc(1 To 1) As Long
    Dim ucurve(1 To 1) As Double, dof(1 To 1) As Double, k(1 To 1) As Double
    Dim u(1 To 1) As Double, low(1 To 1) As Double, high(1 To 1) As Double
    Dim xext(1 To 1) As Double, uxext(1 To 1) As Double, flags(1 To 1) As Long
    code = xlErrValue
    If f.ncoef < 2 Then
        msg = "a fit of degree 0 (a constant) cannot be read back: it gives every x the " & _
            "same response"
        Exit Function
    End If
    covkind = IIf(f.scaled, 1, 0)
    stated = IIf(f.scaled, 0, 1)
    ndof = f.dof
    weighting = 0
    ' The standards' range (only the sample flags use it).
    xstd(1) = f.xlo: xstd(2) = f.xhi
    haslim = 0
    one = 1
    ya(1) = yv
    uya(1) = uyv
    repl(1) = m
    level = READ_LEVEL
    grid = IPVAL_GRID
    ztol = 0
    extrap = 0
    rows = f.ncoef - 1
    ReDim r.roots(1 To rows): ReDim r.uroots(1 To rows)
    QVXL_READBACK f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, covkind, ndof, f.sres, _
        weighting, stated, xstd(1), haslim, limits(1), one, ya(1), mode, uya(1), repl(1), _
        level, grid, ztol, extrap, nroots(1), r.roots(1), r.uroots(1), uyused(1), uysrc(1), _
        ucurve(1), dof(1), k(1), u(1), low(1), high(1), xext(1), uxext(1), flags(1), istatus
    Select Case istatus
    Case 0
    Case 21
        msg = LabText(1, istatus) & ": give the sample's u(y) (a number), or " & _
            """curve-only"" for the curve's part alone"
        Exit Function
    Case 22
        msg = LabText(1, istatus) & ": give the sample's u(y)"
        Exit Function
    Case Else
        code = xlErrNum
        msg = "QVXL_READBACK status " & istatus & ": " & LabText(1, istatus)
        Exit Function
    End Select
    r.nroot = nroots(1)
    r.uy = uyused(1)
    r.source = Replace(Replace(LabText(3, uysrc(1)), "{m}", CStr(m)), "{s}", IIf(m = 1, "", "s"))
    r.ucurve = ucurve(1): r.dof = dof(1): r.k = k(1): r.u = u(1)
    r.low = low(1): r.high = high(1): r.flags = flags(1)
    ReadBack = True
End Function

' POLYEVAL at one x.
Private Function CurveAt(ByRef f As QvxFit, ByVal xv As Double, ByRef yv As Double, _
        ByRef msg As String, ByRef code As Long) As Boolean
    Dim one As Long, istatus As Long, xa(1 To 1) As Double, ya(1 To 1) As Double
    one = 1
    xa(1) = xv
    If xv < f.xmin Or xv > f.xmax Then
        code = xlErrNum
        msg = "x = " & xv & " lies outside the curve's interval [" & f.xmin & ", " & f.xmax & "]"
        Exit Function
    End If
    POLYEVAL f.ncoef, f.coef(1), one, xa(1), f.xmin, f.xmax, ya(1), istatus
    If istatus <> 0 Then
        code = xlErrNum
        msg = "POLYEVAL status " & istatus & ": " & EngineText(12, istatus, 1, f.ncoef, f.xmin, f.xmax)
        Exit Function
    End If
    yv = ya(1)
    CurveAt = True
End Function

' A straight line's intercept and slope with their u (LINEAR_CONV):
' a(1) intercept, a(2) slope.
Private Function LineForm(ByRef f As QvxFit, ByRef a() As Double, ByRef ua() As Double, _
        ByRef msg As String) As Boolean
    Dim lcoef(1 To 2) As Double, lcov(1 To 2, 1 To 2) As Double, istatus As Long
    LINEAR_CONV f.coef(1), f.cov(1, 1), f.xmin, f.xmax, lcoef(1), lcov(1, 1), istatus
    If istatus <> 0 Then
        msg = "LINEAR_CONV status " & istatus & ": " & EngineText(14, istatus, 1, 2, f.xmin, f.xmax)
        Exit Function
    End If
    ReDim a(1 To 2): ReDim ua(1 To 2)
    a(1) = lcoef(2): ua(1) = Sqr(Abs(lcov(2, 2)))
    a(2) = lcoef(1): ua(2) = Sqr(Abs(lcov(1, 1)))
    LineForm = True
End Function

' The curve in powers of x (QVXL_POWER): a(1) + a(2) x + a(3) x^2 + ...,
' with the covariance ca of the a.
Private Function PowerForm(ByRef f As QvxFit, ByRef a() As Double, ByRef ca() As Double, _
        ByRef msg As String) As Boolean
    Dim istatus As Long
    ReDim a(1 To f.ncoef): ReDim ca(1 To f.ncoef, 1 To f.ncoef)
    QVXL_POWER f.ncoef, f.coef(1), f.cov(1, 1), f.xmin, f.xmax, a(1), ca(1, 1), istatus
    If istatus <> 0 Then
        msg = "QVXL_POWER status " & istatus & ": " & LabText(1, istatus)
        Exit Function
    End If
    PowerForm = True
End Function

Private Function PowerTable(ByRef a() As Double, ByRef ua() As Double, ByVal nc As Long) As Variant
    Dim out() As Variant, k As Long
    ReDim out(1 To nc, 1 To 3)
    For k = 1 To nc
        out(k, 1) = PowerName(k - 1)
        out(k, 2) = a(k)
        out(k, 3) = ua(k)
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

' ------------------------------------------------------------- fit block

' Rows: "quorvex fit" NCOEF routine; "interval" XMIN XMAX; "SRES" value and
' the lowest standard's x; "dof" value and the highest standard's x (for the
' errors-in-variables fit the interval is wider than the standards);
' "covariance" "scaled" or "stated"; "COEF" COEF(1..NCOEF);
' then NCOEF rows "COV" with the covariance row by row.  NCOEF + 1 columns,
' at least 3.
Private Function FitBlock(ByRef f As QvxFit) As Variant
    Dim b() As Variant, i As Long, j As Long, nc As Long, ncol As Long
    nc = f.ncoef
    ncol = nc + 1
    If ncol < 3 Then ncol = 3
    ReDim b(1 To 6 + nc, 1 To ncol)
    For i = 1 To 6 + nc
        For j = 1 To ncol
            b(i, j) = ""
        Next j
    Next i
    b(1, 1) = "quorvex fit": b(1, 2) = nc: b(1, 3) = f.routine
    b(2, 1) = "interval": b(2, 2) = f.xmin: b(2, 3) = f.xmax
    b(3, 1) = "SRES": b(3, 2) = f.sres: b(3, 3) = f.xlo
    b(4, 1) = "dof": b(4, 2) = f.dof: b(4, 3) = f.xhi
    b(5, 1) = "covariance": b(5, 2) = IIf(f.scaled, "scaled", "stated")
    b(6, 1) = "COEF"
    For j = 1 To nc
        b(6, j + 1) = f.coef(j)
    Next j
    For i = 1 To nc
        b(6 + i, 1) = "COV"
        For j = 1 To nc
            b(6 + i, j + 1) = f.cov(i, j)
        Next j
    Next i
    FitBlock = b
End Function

' Reads a fit block (a range or the array QVX_FIT returned) and checks it.
Private Function ReadFit(ByVal block As Variant, ByRef f As QvxFit, ByRef msg As String) As Boolean
    Dim v As Variant, r0 As Long, c0 As Long, nr As Long, nc As Long, i As Long, j As Long
    Dim n As Double
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
    If CStr(v(r0, c0)) <> "quorvex fit" Or nc < 3 Or nr < 7 Then
        msg = "the fit argument is not a fit block of QVX_FIT (its first cell reads " & _
            """quorvex fit"")"
        Exit Function
    End If
    If Not IsNumber(v(r0, c0 + 1)) Then
        msg = "the fit block's NCOEF cell is damaged"
        Exit Function
    End If
    n = v(r0, c0 + 1)
    If n <> Int(n) Or n < 1 Or n > MAX_NCOEF Or nr < 6 + n Or nc < n + 1 Then
        msg = "the fit block is incomplete: select " & (6 + n) & " rows and " & _
            IIf(n < 2, 3, n + 1) & " columns for QVX_FIT, or give the whole block"
        Exit Function
    End If
    f.ncoef = CLng(n)
    f.routine = CStr(v(r0, c0 + 2))
    If Not (IsNumber(v(r0 + 1, c0 + 1)) And IsNumber(v(r0 + 1, c0 + 2)) And _
            IsNumber(v(r0 + 2, c0 + 1)) And IsNumber(v(r0 + 3, c0 + 1))) Then
        msg = "the fit block's interval, SRES or dof cell is damaged"
        Exit Function
    End If
    f.xmin = v(r0 + 1, c0 + 1): f.xmax = v(r0 + 1, c0 + 2)
    f.sres = v(r0 + 2, c0 + 1): f.dof = CLng(v(r0 + 3, c0 + 1))
    ' The standards' range; a block written before it was kept has empty
    ' cells there: its interval stands in.
    If IsNumber(v(r0 + 2, c0 + 2)) And IsNumber(v(r0 + 3, c0 + 2)) Then
        f.xlo = v(r0 + 2, c0 + 2): f.xhi = v(r0 + 3, c0 + 2)
    Else
        f.xlo = f.xmin: f.xhi = f.xmax
    End If
    Select Case CStr(v(r0 + 4, c0 + 1))
    Case "scaled": f.scaled = True
    Case "stated": f.scaled = False
    Case Else
        msg = "the fit block's covariance cell must read scaled or stated"
        Exit Function
    End Select
    If Not f.xmin < f.xmax Then
        msg = "the fit block's interval is empty"
        Exit Function
    End If
    ReDim f.coef(1 To f.ncoef): ReDim f.cov(1 To f.ncoef, 1 To f.ncoef)
    For j = 1 To f.ncoef
        If Not IsNumber(v(r0 + 5, c0 + j)) Then
            msg = "the fit block's COEF(" & j & ") is not a number"
            Exit Function
        End If
        f.coef(j) = v(r0 + 5, c0 + j)
        For i = 1 To f.ncoef
            If Not IsNumber(v(r0 + 5 + i, c0 + j)) Then
                msg = "the fit block's COV(" & i & ", " & j & ") is not a number"
                Exit Function
            End If
            f.cov(i, j) = v(r0 + 5 + i, c0 + j)
        Next i
    Next j
    ReadFit = True
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

' u_y or u_x: one positive value for every standard, or one per standard.
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
        If Not out(i) > 0 Then
            msg = what & ": value " & i & " is " & out(i) & "; uncertainties must be positive"
            Exit Function
        End If
        If 1 / out(i) > 1E+300 Then
            msg = what & ": value " & i & " is too small: its weight overflows"
            Exit Function
        End If
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
'   B1         number of coefficients NCOEF (degree + 1), 1 to 10 (1, a
'              constant, reads no sample back)
'   A4:D...    the standards, one per row down to the first empty cell in
'              column A: x, response y, and optionally u(y) in C (all or
'              none) and u(x) in D (all or none; needs u(y))
'   E4:G...    responses of unknown samples, down to the first empty cell
'              in column E: y, its u(y) in F, the number of readings
'              averaged in G (empty: 1).  F empty takes u(y) from the
'              scatter when C is empty (SRES / sqrt(readings)); with u(y)
'              in C, F must be given; "curve-only" in F takes u(y) = 0.
' The macro owns columns H to AJ: it clears them from row 1 down to the
' sheet's last used row before it writes anything, so a rerun with fewer
' samples, roots or coefficients leaves no old numbers behind.  It writes
'   H1         what it did, or why it stopped
'   H3:J...    the Chebyshev record: COEF(k) with u, SRES, dof, the
'              interval, and which covariance the uncertainties use
'   L3:N...    the same curve in powers of x: intercept, slope, x^2, ...
'              with their standard uncertainties
'   P3:...     per sample: the u(y) used and where it came from, the number
'              of x values that give the response, each x and its u(x)
Public Sub QuorvexCalibrate()
    Dim sh As Worksheet
    Set sh = ActiveSheet
    ClearOutput sh
    Calibrate sh
End Sub

' Clears the macro's output region, H1 to AJ of the last used row.
Private Sub ClearOutput(ByVal sh As Worksheet)
    Dim lastRow As Long
    lastRow = sh.UsedRange.Row + sh.UsedRange.Rows.Count - 1
    If lastRow < 3 Then lastRow = 3
    sh.Range(sh.Cells(1, OUT_FIRST_COL), sh.Cells(lastRow, OUT_LAST_COL)).ClearContents
End Sub

Private Sub Calibrate(ByVal sh As Worksheet)
    Dim nStd As Long, nSmp As Long, nc As Long, i As Long, j As Long, k As Long
    Dim f As QvxFit, msg As String, code As Long, cval As Variant
    Dim xs As Range, ys As Range, uys As Variant, uxs As Variant
    Dim a() As Double, ca() As Double, ua() As Double
    Dim yv As Double, mode As Long, uyv As Double, m As Double, r As QvxReading

    cval = sh.Range("B1").Value2
    If Not IsNumber(cval) Then
        Report sh, "B1 must hold the number of coefficients (degree + 1), 1 to 10."
        Exit Sub
    End If
    nc = CLng(cval)
    If nc < 1 Or nc > MAX_NCOEF Or nc <> cval Then
        Report sh, "B1 must hold the number of coefficients (degree + 1), 1 to 10."
        Exit Sub
    End If
    nStd = CountDown(sh.Range("A4"))
    nSmp = CountDown(sh.Range("E4"))
    If nStd < nc Then
        Report sh, "At least " & nc & " standards are needed in A4:B (found " & nStd & ")."
        Exit Sub
    End If
    Set xs = sh.Range("A4").Resize(nStd, 1)
    Set ys = sh.Range("B4").Resize(nStd, 1)
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
    If Not FitFromRanges(xs, ys, uys, uxs, nc - 1, f, msg, code) Then
        Report sh, "The fit failed: " & msg
        Exit Sub
    End If

    ' The Chebyshev record.
    sh.Range("H3:J3").Value = Array("Chebyshev", "value", "u")
    For k = 1 To nc
        sh.Cells(3 + k, 8).Value = "COEF(" & k & ")"
        sh.Cells(3 + k, 9).Value = f.coef(k)
        sh.Cells(3 + k, 10).Value = Sqr(Abs(f.cov(k, k)))
    Next k
    sh.Cells(4 + nc, 8).Value = "SRES"
    sh.Cells(4 + nc, 9).Value = f.sres
    sh.Cells(5 + nc, 8).Value = "dof"
    sh.Cells(5 + nc, 9).Value = f.dof
    sh.Cells(6 + nc, 8).Value = "interval"
    sh.Cells(6 + nc, 9).Value = f.xmin
    sh.Cells(6 + nc, 10).Value = f.xmax
    sh.Cells(7 + nc, 8).Value = "covariance"
    sh.Cells(7 + nc, 9).Value = IIf(f.scaled, "scaled by the scatter", "stated u(y)")
    sh.Cells(8 + nc, 8).Value = "fit"
    sh.Cells(8 + nc, 9).Value = f.routine

    ' The same curve in powers of x (LINEAR_CONV for a straight line).
    If nc = 2 Then
        If Not LineForm(f, a, ua, msg) Then
            Report sh, "The straight-line form failed: " & msg
            Exit Sub
        End If
    Else
        If Not PowerForm(f, a, ca, msg) Then
            Report sh, "The power form failed: " & msg
            Exit Sub
        End If
        ReDim ua(1 To nc)
        For k = 1 To nc
            ua(k) = Sqr(Abs(ca(k, k)))
        Next k
    End If
    sh.Range("L3:N3").Value = Array("power form", "value", "u")
    For k = 1 To nc
        sh.Cells(3 + k, 12).Value = PowerName(k - 1)
        sh.Cells(3 + k, 13).Value = a(k)
        sh.Cells(3 + k, 14).Value = ua(k)
    Next k

    ' Every sample's response read back.
    sh.Range("P3:R3").Value = Array("u(y) used", "u(y) from", "roots")
    For j = 1 To nc - 1
        sh.Cells(3, 17 + 2 * j).Value = IIf(j = 1, "x", "x (" & j & ")")
        sh.Cells(3, 18 + 2 * j).Value = IIf(j = 1, "u(x)", "u(x) (" & j & ")")
    Next j
    For i = 1 To nSmp
        If Not OneNumber(sh.Cells(3 + i, 5), "y", yv, msg) Then
            sh.Cells(3 + i, 16).Value = "row " & (3 + i) & ": " & msg
        ElseIf Not ResponseArgs(sh.Cells(3 + i, 6), sh.Cells(3 + i, 7), mode, uyv, m, msg) Then
            sh.Cells(3 + i, 16).Value = "row " & (3 + i) & ": " & msg
        ElseIf Not ReadBack(f, yv, mode, uyv, m, r, msg, code) Then
            sh.Cells(3 + i, 16).Value = "row " & (3 + i) & ": " & msg
        Else
            sh.Cells(3 + i, 16).Value = r.uy
            sh.Cells(3 + i, 17).Value = r.source
            sh.Cells(3 + i, 18).Value = r.nroot
            For j = 1 To r.nroot
                sh.Cells(3 + i, 17 + 2 * j).Value = r.roots(j)
                sh.Cells(3 + i, 18 + 2 * j).Value = r.uroots(j)
            Next j
        End If
    Next i
    Report sh, "Calibrated: " & nStd & " standards, degree " & (nc - 1) & ", " & nSmp & _
        " sample(s) read back."
End Sub

' The macro's status line in H1; a message box when it stopped early.
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
    sh.Range("A3:D3").Value = Array("x", "y", "u(y)", "u(x)")
    sh.Range("E3:G3").Value = Array("y", "u(y)", "readings")
    For i = 0 To UBound(conc)
        sh.Cells(4 + i, 1).Value = conc(i)
        sh.Cells(4 + i, 2).Value = absorb(i)
    Next i
    For i = 0 To UBound(sy)
        sh.Cells(4 + i, 5).Value = sy(i)
    Next i
    ' The second sample is the mean of 3 readings; the third has a stated u(y).
    sh.Cells(5, 7).Value = 3
    sh.Cells(6, 6).Value = 0.0053
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
