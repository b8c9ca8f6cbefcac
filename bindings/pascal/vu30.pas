// SPDX-License-Identifier: MIT
{
  vu30 for Object Pascal hosts: the library's binary boundary (vu30.h) as
  Pascal types, and a driver class and a dispatcher base class on top of
  it. For Free Pascal 3.2.2 in objfpc and delphi modes, and within what
  Delphi accepts.

  What a host gets here:
    - TVu30Driver, a class that owns one driver: its methods are named for
      what they do, with the table's reserved arguments filled in; every
      error of the library arrives as EVu30Error (Kind and Message, code
      page 1251) on Windows and on Linux alike; its destructor releases the
      driver.
    - TVu30DispatcherBase, a base class for the host's port dispatcher: the
      host overrides Transact (and what else it needs); the table entries
      the driver calls run the host's methods and turn anything they raise
      into a failed result, so that no raise ever crosses the library.
    - The boundary itself for hosts that want the tables: GetVU30 and
      TVu30GetVU30Fn for hosts that load the library themselves, the driver
      object (TVu30DriverObject) and its table (TVu30DriverTable, slots
      0..24 and entry 25, the destructor of C hosts), the runtime's entries
      just before slot 0 (TVu30RuntimeEntries; Vu30Release calls its
      Destroy), the dispatcher record and its table, bound methods, the
      host's menu items, the identity block, the status record and the
      constants.

    uses
      cthreads, cwstring, SysUtils, vu30;  (cthreads and cwstring: Linux)
    ...
    Driver := TVu30Driver.Create(MyDispatcher);
    try
      Driver.OpenPost(3);
      try
        Driver.StartPump(3);
      except
        on E: EVu30Error do
          WriteLn('not started (kind ', E.Kind, '): ', E.Message);
      end;
    finally
      Driver.Free;
    end;

  Errors. On Windows the library raises its structured exception (code
  Vu30ErrorCode, not continuable) with three parameters: the kind, a pointer
  to the message and the message's length. Free Pascal delivers it as
  SysUtils' EExternalException (Vu30IsError and Vu30ErrorOf read it);
  TVu30Driver raises an EVu30Error in its place. On Linux the library's
  errors are C++ exceptions, which no Pascal frame can catch: TVu30Driver
  makes every call through the error-returning calls of libvu30-calls
  (vu30_calls.h), which give the kind and the message as values, and raises
  EVu30Error from them. On Linux a host that calls the table itself gets
  no error it can catch: a refused call ends the process.

  Texts. The library's texts (EVu30Error's Message, the identity block)
  are strings tagged with code page 1251. On Linux, with cwstring among the
  program's first units, Free Pascal converts them to the locale's code
  page where they are written: WriteLn(E.Message) prints a failed price's
  Cyrillic message right on a UTF-8 terminal (checked with Free Pascal
  3.2.2). Without cwstring the cp1251 bytes are written unchanged (mojibake
  on a UTF-8 terminal); in the C locale each Cyrillic letter becomes '?'.

  The host's own exceptions. A raise that leaves a function the driver
  calls (Transact, say) must never reach the library: on Linux Free Pascal
  leaves by a jump that passes over the library's frames with the channel
  pair's lock held, and the post hangs at its next call; on Windows the
  library contains it, but cannot free the exception object. A dispatcher
  derived from TVu30DispatcherBase is safe on both systems: its table
  entries catch whatever its methods raise and give the driver a failed
  result (a failed exchange for Transact). A host that fills the table
  itself reports a failure by its result instead and catches everything.

  Threads. The driver's post workers call the host's dispatcher on threads
  that the Pascal runtime did not start. The runtime serves such threads
  only with a thread manager and IsMultiThread set: on Linux the program's
  first unit must be cthreads (and cwstring, for the conversion of the
  library's cp1251 texts); this unit stops the program at start-up with a
  message when no thread manager is installed, and sets IsMultiThread.

  Calling convention. Every function of the tables is stdcall: on i686
  Windows that is the library's VU30_CALL; on x86_64 each platform has one
  convention, which the compiler keeps to whatever a declaration names.

  Linux: link with -Fl<the library's folder> (libvu30.so and
  libvu30-calls.so); Windows: vu30.dll beside the program.
}
unit vu30;

{$ifdef FPC}
  {$ifndef FPC_DELPHI}
    {$ifndef FPC_OBJFPC}
      {$mode objfpc}
    {$endif}
  {$endif}
  {$H+}
  {$packrecords c}
{$endif}

interface

uses
{$ifdef MSWINDOWS}
  Windows,
{$endif}
  SysUtils;

{$if not declared(NativeInt)}
type
  NativeInt = Integer;
  NativeUInt = Cardinal;
{$ifend}

const
{$ifdef MSWINDOWS}
  Vu30Library = 'vu30.dll';
{$else}
  Vu30Library = 'libvu30.so.2';
  { The error-returning calls (vu30_calls.h); linked as -lvu30-calls. }
  Vu30CallsLibrary = 'vu30-calls';
{$endif}

  { Values the driver exchanges with the dispatcher. }
  Vu30LinkGood = 1;           { channel status: reply accepted }
  Vu30LinkFailed = 3;         { channel status: reply rejected }
  Vu30ErrReplyLength = $DB;   { received count differs from the expected one }
  Vu30ErrReplyFormat = $DE;   { no closing zero, or a malformed line byte }
  Vu30ConfigureMode = 3;      { ConfigureChannel's mode argument }

  { Size of the identity block of slot 1: a length byte of 31 and 31 cp1251 bytes. }
  Vu30DriverInfoSize = 32;
  { Smallest status record that slot 21 writes to. }
  Vu30StatusRecordMinSize = 16;
  { Number of entries in the driver's table: slots 0..24 and the destructor. }
  Vu30DriverTableSize = 26;
  { Number of the runtime's entries just before slot 0. }
  Vu30RuntimeEntryCount = 8;
  { E_UNEXPECTED, the result of SafeCallException (entry -8). }
  Vu30SafeCallResult = LongInt($8000FFFF);

  { The library's structured exception on Windows, and the kinds of its
    errors on every system (EVu30Error.Kind). }
  Vu30ErrorCode = $E0563330;
  Vu30ErrorSerialIO = 1;  { a dispenser exchange failed }
  Vu30ErrorRefused = 2;   { an argument the driver refused before touching anything }
  Vu30ErrorAbstract = 3;  { slot 0, which no driver implements }
  Vu30ErrorFailure = 4;   { any other failure inside the library }

  { What TVu30DispatcherBase's Transact entry gives the driver when the
    host's Transact raised: a failed exchange. }
  Vu30TransactRaised = -1;

  { The names of earlier versions of this unit. }
  VU30_LINK_GOOD = Vu30LinkGood deprecated;
  VU30_LINK_FAILED = Vu30LinkFailed deprecated;
  VU30_ERR_REPLY_LENGTH = Vu30ErrReplyLength deprecated;
  VU30_ERR_REPLY_FORMAT = Vu30ErrReplyFormat deprecated;
  VU30_CONFIGURE_MODE = Vu30ConfigureMode deprecated;
  VU30_DRIVER_INFO_SIZE = Vu30DriverInfoSize deprecated;
  VU30_STATUS_RECORD_MIN_SIZE = Vu30StatusRecordMinSize deprecated;
  VU30_DRIVER_TABLE_SIZE = Vu30DriverTableSize deprecated;
  VU30_RUNTIME_ENTRIES = Vu30RuntimeEntryCount deprecated;
  VU30_SAFECALL_RESULT = Vu30SafeCallResult deprecated;
  VU30_ERROR_CODE = Vu30ErrorCode deprecated;
  VU30_ERROR_SERIAL_IO = Vu30ErrorSerialIO deprecated;
  VU30_ERROR_REFUSED = Vu30ErrorRefused deprecated;
  VU30_ERROR_ABSTRACT = Vu30ErrorAbstract deprecated;
  VU30_ERROR_FAILURE = Vu30ErrorFailure deprecated;

type
  { The host's main window, owner of the library's dialog: a window handle
    on Windows; elsewhere the toolkit's widget (a QWidget) or nil. }
{$ifdef MSWINDOWS}
  TVu30Window = HWND;
{$else}
  TVu30Window = Pointer;
{$endif}

const
  { No window: the dialog has no owner. }
  Vu30NoWindow = {$ifdef MSWINDOWS} 0 {$else} nil {$endif};

type
  PVu30DriverObject = ^TVu30DriverObject;
  PVu30Driver = PVu30DriverObject;
  PVu30DriverTable = ^TVu30DriverTable;
  PVu30RuntimeEntries = ^TVu30RuntimeEntries;
  PVu30Dispatcher = ^TVu30Dispatcher;
  PVu30DispatcherTable = ^TVu30DispatcherTable;
  PVu30MenuItem = ^TVu30MenuItem;
  PVu30MenuItemTable = ^TVu30MenuItemTable;
  PVu30BoundMethod = ^TVu30BoundMethod;
  PVu30DriverTableBlock = ^TVu30DriverTableBlock;

  { The identity block of slot 1: a short string of 31 cp1251 characters. }
  TVu30DriverInfo = string[31];
  PVu30DriverInfo = ^TVu30DriverInfo;
  { The status record of slot 21; the driver writes bytes 0, 1, 14 and 15. }
  TVu30StatusRecord = packed array[0..Vu30StatusRecordMinSize - 1] of Byte;
  PVu30StatusRecord = ^TVu30StatusRecord;

  { The driver's callbacks, as methods: the bound method's data is Self. }
  TVu30CheckReplyMethod = function(Channel: Byte; Buffer: PByte; Reserved: LongInt;
    var Count: Byte; var Expected: Byte): Boolean of object; stdcall;
  TVu30RouteMessageMethod = procedure(WorkerAddress: Byte; Buffer: PByte; Reserved: LongInt;
    Length: Byte) of object; stdcall;
  TVu30PreparePostMethod = procedure(Post: Byte) of object; stdcall;
  { The click handler of the driver's menu item. }
  TVu30MenuClickMethod = procedure(Sender: Pointer) of object; stdcall;

  { A bound method: called as code(data, arguments...). Each variant reads
    the same two words as one of the method types above. }
  TVu30BoundMethod = record
    case Integer of
      0: (Code: Pointer; Data: Pointer);
      1: (CheckReply: TVu30CheckReplyMethod);
      2: (RouteMessage: TVu30RouteMessageMethod);
      3: (PreparePost: TVu30PreparePostMethod);
      4: (MenuClick: TVu30MenuClickMethod);
  end;

  { The host's port dispatcher. The driver calls only the named entries;
    the reserved ones belong to the host. }
  TVu30GetChannelErrorFn = function(Dispatcher: PVu30Dispatcher; Channel: Byte): LongInt; stdcall;
  TVu30SetChannelErrorFn = procedure(Dispatcher: PVu30Dispatcher; Channel: Byte;
    Code: LongInt); stdcall;
  TVu30SetChannelStatusFn = procedure(Dispatcher: PVu30Dispatcher; Channel: Byte;
    Status: Byte); stdcall;
  TVu30GetChannelStatusFn = function(Dispatcher: PVu30Dispatcher; Channel: Byte): Byte; stdcall;
  TVu30ConfigureChannelFn = function(Dispatcher: PVu30Dispatcher; Post: Byte; Mode: LongInt;
    LineSettings: LongWord): LongInt; stdcall;
  TVu30TransactFn = function(Dispatcher: PVu30Dispatcher; Channel: Byte; LineAddress: Byte;
    Request: PByte; RequestLength: Byte; Reply: PByte; ReplyLength: Byte;
    ReplyType: Byte): LongInt; stdcall;
  TVu30SetCallbackFn = procedure(Dispatcher: PVu30Dispatcher; ChannelOrPost: Byte;
    Method: TVu30BoundMethod); stdcall;

  TVu30DispatcherTable = record
    Reserved0: Pointer;
    GetChannelError: TVu30GetChannelErrorFn;    { 1 }
    SetChannelError: TVu30SetChannelErrorFn;    { 2 }
    SetChannelStatus: TVu30SetChannelStatusFn;  { 3 }
    GetChannelStatus: TVu30GetChannelStatusFn;  { 4 }
    Reserved5_16: array[5..16] of Pointer;      { 5..16 }
    ConfigureChannel: TVu30ConfigureChannelFn;  { 17 }
    Transact: TVu30TransactFn;                  { 18 }
    SetReplyChecker: TVu30SetCallbackFn;        { 19 }
    SetMessageHook: TVu30SetCallbackFn;         { 20 }
    SetPostInit: TVu30SetCallbackFn;            { 21 }
  end;

  { The dispatcher object: its table first; a host keeps its own fields
    after it and finds them from the pointer the driver passes back. }
  TVu30Dispatcher = record
    Table: PVu30DispatcherTable;
  end;

  { The host's menu items (slot 24). }
  TVu30MenuItemTable = record
    Count: function(Item: PVu30MenuItem): LongInt; stdcall;                           { 0 }
    Item: function(Item: PVu30MenuItem; Index: LongInt): PVu30MenuItem; stdcall;     { 1 }
    Caption: function(Item: PVu30MenuItem): PAnsiChar; stdcall;                       { 2 }
    SetCaption: procedure(Item: PVu30MenuItem; Caption: PAnsiChar); stdcall;          { 3 }
    SetHint: procedure(Item: PVu30MenuItem; Hint: PAnsiChar); stdcall;                { 4 }
    SetHelpContext: procedure(Item: PVu30MenuItem; Context: LongInt); stdcall;        { 5 }
    SetShortCut: procedure(Item: PVu30MenuItem; ShortCut: LongInt); stdcall;          { 6 }
    SetOnClick: procedure(Item: PVu30MenuItem; Handler: TVu30BoundMethod); stdcall;   { 7 }
  end;

  TVu30MenuItem = record
    Table: PVu30MenuItemTable;
  end;

  { The host's item-creation function: a new child of Parent (index -1). }
  TVu30CreateItemFn = function(Parent: PVu30MenuItem; Index: LongInt): PVu30MenuItem; stdcall;

  { The driver's table of operations. Each slot's arguments with their
    units and ranges, what it refuses, what a failure leaves behind and the
    threads it may be called from are in its reference comment in vu30.h
    (Vu30DriverTable), in the same order; Var arguments are the pointers
    there. A Pascal host calls the slots through TVu30Driver, which fills
    in the reserved arguments and raises EVu30Error on every system. }
  TVu30DriverTable = record
    { 0: not implemented; raises the abstract-operation error. }
    Abstract: procedure(Driver: PVu30Driver); stdcall;
    { 1: copies the 32-byte identity block into Info; returns Info. }
    GetDriverInfo: function(Info: PVu30DriverInfo; Driver: PVu30Driver): PVu30DriverInfo; stdcall;
    { 2, 3: the post's link status (1 good, 3 failed). }
    SetLinkStatus: procedure(Driver: PVu30Driver; Post: Byte; Value: Byte); stdcall;
    GetLinkStatus: function(Driver: PVu30Driver; Post: Byte): Byte; stdcall;
    { 4: stop the pump; the low byte of Exchange decides whether a frame is sent. }
    StopPump: function(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
      Exchange: LongInt): Byte; stdcall;
    { 5: StopPump(Post, 0, 1). }
    StopPumpNow: function(Driver: PVu30Driver; Post: LongInt): LongInt; stdcall;
    { 6: the final figures of the dispense, once. }
    ReadFinalDispense: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
      var Volume: Double; var Money: Double); stdcall;
    { 7: the nozzle's totalizer counter; Second is always set to zero. }
    ReadCounter: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      var Counter: Double; var Second: Double; Reserved2: LongInt; Reserved3: LongInt); stdcall;
    { 8: no operation. }
    Nop8: procedure(Driver: PVu30Driver; R1, R2, R3, R4, R5, R6, R7: LongInt); stdcall;
    { 9: the running (mode 1) or final (other modes) figures; returns the volume. }
    PollDispense: function(Driver: PVu30Driver; Post: LongInt; Mode: LongInt;
      var Money: Double): Double; stdcall;
    { 10: the post's state code, zero-extended. }
    GetPumpState: function(Driver: PVu30Driver; Post: Byte; Reserved: LongInt): LongWord; stdcall;
    { 11: the unit price of a nozzle. }
    SetPrice: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      Reserved2: LongInt; Reserved3: LongInt; Price: Double); stdcall;
    { 12: no operation. }
    Nop12: procedure(Driver: PVu30Driver; R1, R2, R3: LongInt); stdcall;
    { 13, 14: preset the dose of a nozzle, in litres or in money. }
    PresetVolume: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      Reserved2: LongInt; Volume: Double); stdcall;
    PresetMoney: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
      Reserved2: LongInt; Money: Double); stdcall;
    { 15: start the pump. }
    StartPump: procedure(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
      Reserved2: LongInt); stdcall;
    { 16: open a post: worker, dispatcher registrations, channel set-up. }
    OpenPost: procedure(Driver: PVu30Driver; Post: LongInt); stdcall;
    { 17, 18: no operation. }
    Nop17: procedure(Driver: PVu30Driver; R1, R2, R3: LongInt); stdcall;
    Nop18: procedure(Driver: PVu30Driver; R1, R2, R3, R4: LongInt); stdcall;
    { 19: StartPump(Post, A, B). }
    StartPumpAlias: procedure(Driver: PVu30Driver; Post: LongInt; A: LongInt; B: LongInt;
      Reserved: LongInt); stdcall;
    { 20: a fixed capability; True and Value set when the number is known. }
    GetCapability: function(Driver: PVu30Driver; Number: LongInt;
      var Value: LongInt): Boolean; stdcall;
    { 21: writes bytes 0, 1, 14 and 15 of the host's status record; returns Rec. }
    GetStatusRecord: function(Rec: PVu30StatusRecord; Driver: PVu30Driver; Post: Byte;
      PassedOn: Byte; Reserved: LongInt): PVu30StatusRecord; stdcall;
    { 22: StopPump(Post, A, low byte of Exchange). }
    StopPumpEx: function(Driver: PVu30Driver; Post: LongInt; A: LongInt; Reserved: LongInt;
      Exchange: LongInt): Byte; stdcall;
    { 23: StopPump(Post, A, 1). }
    StopPumpAlt: function(Driver: PVu30Driver; Post: LongInt; A: LongInt; Reserved: LongInt;
      Reserved2: LongInt): Byte; stdcall;
    { 24: add the driver's entry under the host's "&ТРК" menu item, once per load. }
    AddMenuEntry: procedure(Driver: PVu30Driver; ParentItem: PVu30MenuItem;
      CreateItem: TVu30CreateItemFn); stdcall;
    { 25: the destructor of C and C++ hosts: stops every worker and releases
      the object. A Pascal host releases the driver through the runtime's
      entry -1 instead (Vu30Release). }
    Destroy: procedure(Driver: PVu30Driver); stdcall;
  end;

  { The runtime's entries, the eight words just before slot 0 of the
    driver's table, in the runtime's order. Their convention is the
    runtime's, not stdcall: on i686 the register convention (the object in
    EAX, a second argument in EDX, a third in ECX, no stack arguments), on
    x86_64 the platform's one convention. Destroy releases the driver as
    entry 25 does, whatever the outer-call flag; the others do nothing and
    return 0 (SafeCallException returns Vu30SafeCallResult). }
  TVu30SafeCallExceptionFn = function(Driver: PVu30Driver; ExceptObject: Pointer;
    ExceptAddress: Pointer): LongInt; register;
  TVu30RuntimeFn = function(Driver: PVu30Driver; Argument: Pointer): NativeInt; register;
  TVu30RuntimeDestroyFn = procedure(Driver: PVu30Driver; Outer: ShortInt); register;

  TVu30RuntimeEntries = record
    SafeCallException: TVu30SafeCallExceptionFn;  { -8 }
    AfterConstruction: TVu30RuntimeFn;            { -7 }
    BeforeDestruction: TVu30RuntimeFn;            { -6 }
    Dispatch: TVu30RuntimeFn;                     { -5 }
    DefaultHandler: TVu30RuntimeFn;               { -4 }
    NewInstance: TVu30RuntimeFn;                  { -3 }
    FreeInstance: TVu30RuntimeFn;                 { -2 }
    Destroy: TVu30RuntimeDestroyFn;               { -1: releases the driver }
  end;

  { How the table lies in the library: the runtime's entries, then slot 0.
    A driver object's table pointer points at the Table member. }
  TVu30DriverTableBlock = record
    Runtime: TVu30RuntimeEntries;
    Table: TVu30DriverTable;
  end;

  { The driver object as the library hands it out: its table first. }
  TVu30DriverObject = record
    Table: PVu30DriverTable;
  end;

  TVu30GetVU30Fn = function(Ignored: Byte; HostWindow: Pointer;
    Dispatcher: PVu30Dispatcher): PVu30Driver; stdcall;

  { The library's error as a Pascal exception: Kind is one of the
    Vu30Error kinds, Message the library's text (code page 1251). }
  EVu30Error = class(Exception)
  private
    FKind: LongWord;
  public
    constructor CreateKind(AKind: LongWord; const AMessage: string);
    property Kind: LongWord read FKind;
  end;

  TVu30DispatcherBase = class;

  { What the driver sees of a TVu30DispatcherBase: the dispatcher record,
    then the object it belongs to. }
  TVu30DispatcherFrame = record
    Dispatcher: TVu30Dispatcher;
    Owner: TVu30DispatcherBase;
  end;

  { A port dispatcher as a class. The table entries that the driver calls
    run the virtual methods below; whatever a method raises is caught in
    the entry (and passed to Raised), and the driver gets a failed result:
    Transact gives Vu30TransactRaised (a failed exchange), GetChannelError
    -1, GetChannelStatus Vu30LinkFailed, ConfigureChannel -1; the others
    change nothing. So a host's raise never crosses the library's frames.

    The defaults keep what the driver sets: the channels' status and error,
    and the reply checkers, message hooks and post initialisation handlers
    it registers, which CheckReply, RouteMessage and PreparePost call. A
    host overrides Transact (abstract here) and whatever else it handles
    itself. The methods run on the host's threads and on the driver's post
    workers. }
  TVu30DispatcherBase = class
  private
    FFrame: TVu30DispatcherFrame;
    FStatus: array[Byte] of Byte;
    FError: array[Byte] of LongInt;
    FChecker: array[Byte] of TVu30BoundMethod;
    FHook: array[Byte] of TVu30BoundMethod;
    FPostInit: array[Byte] of TVu30BoundMethod;
    function GetDispatcher: PVu30Dispatcher;
  protected
    function GetChannelError(Channel: Byte): LongInt; virtual;
    procedure SetChannelError(Channel: Byte; Code: LongInt); virtual;
    procedure SetChannelStatus(Channel: Byte; Status: Byte); virtual;
    function GetChannelStatus(Channel: Byte): Byte; virtual;
    function ConfigureChannel(Post: Byte; Mode: LongInt; LineSettings: LongWord): LongInt; virtual;
    { One exchange on the line: send Request (RequestLength coded bytes) to
      the dispenser at LineAddress on Channel and, when ReplyLength is not
      0, put its answer in Reply and have it checked (CheckReply). 0 when
      the exchange succeeded; any other result, or a raise, fails it. }
    function Transact(Channel: Byte; LineAddress: Byte; Request: PByte; RequestLength: Byte;
      Reply: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt; virtual; abstract;
    procedure SetReplyChecker(Channel: Byte; const Method: TVu30BoundMethod); virtual;
    procedure SetMessageHook(Post: Byte; const Method: TVu30BoundMethod); virtual;
    procedure SetPostInit(Post: Byte; const Method: TVu30BoundMethod); virtual;
    { Called with the object that one of the methods above raised, before
      the entry gives the driver its failed result (and frees the object).
      Does nothing here; a host may log it. Whatever it raises is dropped. }
    procedure Raised(E: TObject); virtual;

    { The reply checker the driver registered for Channel, run on Reply:
      True when the driver accepted the reply; False also when none is
      registered. }
    function CheckReply(Channel: Byte; Reply: PByte; var Count: Byte;
      var Expected: Byte): Boolean;
    { A message of the dispenser's to the post's worker, through the hook
      the driver registered for Post; nothing when none is registered. }
    procedure RouteMessage(Post: Byte; WorkerAddress: Byte; Buffer: PByte; Length: Byte);
    { The post initialisation handler the driver registered for Post. }
    procedure PreparePost(Post: Byte);
  public
    constructor Create;
    { The dispatcher to hand to the driver (TVu30Driver.Create, GetVU30). }
    property Dispatcher: PVu30Dispatcher read GetDispatcher;
  end;

  { One driver of the library, owned: created with the host's dispatcher,
    released by Destroy (Free). Every method raises EVu30Error when the
    library reports an error: Kind Vu30ErrorRefused for an argument the
    driver refused before anything was sent or changed (a post outside
    1..30, a nozzle outside 1..8, an amount that does not fit its digits or
    is not a finite number; a preset or a dispense reading on a post that
    has not been opened), Vu30ErrorSerialIO for a failed exchange (the
    operation's fixed message), Vu30ErrorFailure for any other failure
    inside the library. Each method names its slot of vu30.h, whose
    reference says what it refuses and what a failure leaves behind.

    A reply the driver rejects is no error: the method returns zero figures
    and only LinkStatus[Post] = Vu30LinkFailed (3) tells.

    Posts count 1..30, nozzles 1..8; volumes are in litres, prices in money
    units a litre, money in money units. A method may be called from any
    thread, also from inside the dispatcher's functions. }
  TVu30Driver = class
  private
    FHandle: PVu30Driver;
    procedure Load(Dispatcher: PVu30Dispatcher; Window: TVu30Window);
    function GetLinkStatus(Post: Integer): Byte;
    procedure SetLinkStatus(Post: Integer; Value: Byte);
  public
    { A new driver that exchanges through Dispatcher (kept, never owned:
      it must outlive the driver). Window owns the driver's dialog.
      GetVU30: nil, or a table lacking an entry the driver calls, is
      refused (Vu30ErrorRefused). }
    constructor Create(Dispatcher: PVu30Dispatcher;
      Window: TVu30Window = Vu30NoWindow); overload;
    constructor Create(Dispatcher: TVu30DispatcherBase;
      Window: TVu30Window = Vu30NoWindow); overload;
    { Stops every post worker and releases the driver. From inside the
      driver's own exchange (the host's Transact, or a dispatcher function
      the driver calls) the release is refused: EVu30Error with Kind
      Vu30ErrorRefused, and nothing changed. Free Pascal then frees
      neither the object nor the driver, and both stay usable: the host
      keeps its reference and calls Free again once that exchange has
      returned, from outside the driver. FreeAndNil clears the reference
      before it frees, so a host that may release from inside an exchange
      calls Free and clears the reference itself after Free returned. }
    destructor Destroy; override;

    { The identity block: "v2.41#" and the driver's name, code page 1251
      (slot 1). }
    function Identity: TVu30DriverInfo;
    { Opens the post: starts its worker (once) and sets up its channel
      (slot 16). Presets and dispense readings need it; opening again
      repeats the set-up. }
    procedure OpenPost(Post: Integer);
    { The unit price of a nozzle, 0..99.99 money units a litre, kept in
      hundredths even when the exchange then fails (slot 11). The post need
      not have been opened. }
    procedure SetPrice(Post, Nozzle: Integer; Price: Double);
    { Presets the dose of a nozzle in litres (0..999.99), or in money at
      its price (the volume it buys in whole hundredths; the nozzle needs a
      price); nothing is sent. The post must have been opened (slots 13,
      14). }
    procedure PresetVolume(Post, Nozzle: Integer; Volume: Double);
    procedure PresetMoney(Post, Nozzle: Integer; Money: Double);
    { Starts the pump (slot 15); "Can't START POMP" when the exchange
      fails. }
    procedure StartPump(Post: Integer);
    { Stops the pump; with SendStop False only the post's state is reset,
      nothing is sent (slot 4); "Can't STOP POMP" when the exchange fails. }
    procedure StopPump(Post: Integer; SendStop: Boolean = True);
    { The figures of the dispense, Volume in litres and Money in money
      units: running ones, or with Running False the final ones (slot 9).
      The post must have been opened. At the start of a sale, before the
      dispenser resets its figures, the running figures are still the last
      sale's volume at the nozzle's current price. }
    procedure PollDispense(Post: Integer; out Volume, Money: Double; Running: Boolean = True);
    { The final figures of the sale, Volume in litres and Money in money
      units, once: a second call gives zeros and no error until the post's
      next sale (slot 6). The post must have been opened. }
    procedure ReadFinalDispense(Post: Integer; out Volume, Money: Double);
    { The nozzle's totalizer counter, in litres; 0 when the reply was
      rejected or named another nozzle (slot 7). }
    function ReadCounter(Post, Nozzle: Integer): Double;
    { The post's state code, 0..255: $C0 idle, $C8 started, $D8 + nozzle
      dose released, ... (slot 10). The post need not have been opened. }
    function PumpState(Post: Integer): LongWord;
    { A fixed capability: True and Value set when the number is known (slot 20). }
    function Capability(Number: Integer; out Value: LongInt): Boolean;
    { Writes bytes 0, 1, 14 and 15 of Rec: the state code, 0, its low three
      bits, 0 (slot 21). Rec is untouched when the call fails. }
    procedure ReadStatusRecord(Post: Integer; PassedOn: Byte; var Rec: TVu30StatusRecord);
    { Adds the driver's entry under the host's "&ТРК" menu item, once per
      load; call it on the user-interface thread (slot 24). }
    procedure AddMenuEntry(ParentItem: PVu30MenuItem; CreateItem: TVu30CreateItemFn);
    { The post's link status, Vu30LinkGood or Vu30LinkFailed (slots 2, 3):
      Vu30LinkFailed after a failed exchange or a rejected reply. }
    property LinkStatus[Post: Integer]: Byte read GetLinkStatus write SetLinkStatus;
    { The driver object, for the table's other slots. }
    property Handle: PVu30Driver read FHandle;
  end;

{ The library's one export. The first argument is ignored; HostWindow is the
  host's main window, owner of the library's dialog; Dispatcher is the host's
  port dispatcher, kept and never owned. }
function GetVU30(Ignored: Byte; HostWindow: Pointer; Dispatcher: PVu30Dispatcher): PVu30Driver;
  stdcall; {$ifdef MSWINDOWS} overload; {$endif} external Vu30Library name 'GetVU30';
{$ifdef MSWINDOWS}
function GetVU30(Ignored: Byte; HostWindow: TVu30Window; Dispatcher: PVu30Dispatcher): PVu30Driver;
  stdcall; overload; external Vu30Library name 'GetVU30';
{$endif}

{ The runtime's entries of Driver's table. }
function Vu30RuntimeEntries(Driver: PVu30Driver): PVu30RuntimeEntries;

{ Releases the driver as an Object Pascal runtime does (its Free): through
  the entry just before slot 0, with the outer-call flag set. Sets Driver to
  nil once the release has returned; a refused release (raised from inside
  the driver's own exchange) leaves Driver as it was, for a later release
  from outside. Does nothing when Driver is nil. }
procedure Vu30Release(var Driver: PVu30Driver);

{$ifdef MSWINDOWS}
{ True when E is the library's structured exception as the runtime delivers
  it (an EExternalException with the library's code and three parameters). }
function Vu30IsError(E: TObject): Boolean;

{ A new EVu30Error with the kind and message of E when Vu30IsError(E); nil
  otherwise. }
function Vu30ErrorOf(E: TObject): EVu30Error;
{$endif}

implementation

{$ifdef FPC}
{$if SizeOf(TVu30BoundMethod) <> 2 * SizeOf(Pointer)}
  {$error a bound method is code and data}
{$ifend}
{$if SizeOf(TVu30DriverTable) <> Vu30DriverTableSize * SizeOf(Pointer)}
  {$error the driver table has 26 entries}
{$ifend}
{$if SizeOf(TVu30RuntimeEntries) <> Vu30RuntimeEntryCount * SizeOf(Pointer)}
  {$error the runtime's entries are eight words}
{$ifend}
{$if SizeOf(TVu30DispatcherTable) <> 22 * SizeOf(Pointer)}
  {$error the dispatcher table has 22 entries}
{$ifend}
{$if SizeOf(TVu30MenuItemTable) <> 8 * SizeOf(Pointer)}
  {$error the menu item table has 8 entries}
{$ifend}
{$if SizeOf(TVu30DriverInfo) <> Vu30DriverInfoSize}
  {$error the identity block is 32 bytes}
{$ifend}
{$endif}

{ The library's texts: cp1251 bytes, marked so, not converted. }
function Cp1251Text(Text: PAnsiChar; Count: NativeUInt): string;
var
  Raw: RawByteString;
begin
  SetString(Raw, Text, Count);
  SetCodePage(Raw, 1251, False);
  Result := string(Raw);
end;

constructor EVu30Error.CreateKind(AKind: LongWord; const AMessage: string);
begin
  inherited Create(AMessage);
  FKind := AKind;
end;

function Vu30RuntimeEntries(Driver: PVu30Driver): PVu30RuntimeEntries;
begin
  Result := PVu30RuntimeEntries(PAnsiChar(Driver^.Table) - SizeOf(TVu30RuntimeEntries));
end;

procedure Vu30Release(var Driver: PVu30Driver);
begin
  if Driver = nil then
    Exit;
  Vu30RuntimeEntries(Driver)^.Destroy(Driver, 1);
  Driver := nil;
end;

{ A post number as the byte the table takes, refused when it is none. }
function PostByte(Post: Integer): Byte;
begin
  if (Post < 0) or (Post > High(Byte)) then
    raise EVu30Error.CreateKind(Vu30ErrorRefused, 'vu30: post ' + IntToStr(Post) +
      ' is outside 1..30');
  Result := Byte(Post);
end;

{$ifdef MSWINDOWS}
{ The longest message the library raises is far shorter; a longer length
  is not the library's. }
const
  MaxMessageLength = 4096;

function Vu30IsError(E: TObject): Boolean;
begin
  Result := (E is EExternalException) and (EExternalException(E).ExceptionRecord <> nil);
  if Result then
    with EExternalException(E).ExceptionRecord^ do
      Result := (ExceptionCode = Vu30ErrorCode) and (NumberParameters = 3);
end;

function Vu30ErrorOf(E: TObject): EVu30Error;
var
  Text: string;
  Count: NativeUInt;
begin
  Result := nil;
  if not Vu30IsError(E) then
    Exit;
  with EExternalException(E).ExceptionRecord^ do
  begin
    Count := NativeUInt(ExceptionInformation[2]);
    Text := '';
    if (ExceptionInformation[1] <> 0) and (Count <= MaxMessageLength) then
      Text := Cp1251Text(PAnsiChar(ExceptionInformation[1]), Count);
    Result := EVu30Error.CreateKind(LongWord(NativeUInt(ExceptionInformation[0])), Text);
  end;
end;

{ TVu30Driver's calls on Windows: the table's, each inside a handler that
  raises the library's structured exception again as an EVu30Error. }

procedure TVu30Driver.Load(Dispatcher: PVu30Dispatcher; Window: TVu30Window);
begin
  try
    FHandle := GetVU30(0, Window, Dispatcher);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

destructor TVu30Driver.Destroy;
begin
  try
    Vu30Release(FHandle);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
  inherited Destroy;
end;

function TVu30Driver.Identity: TVu30DriverInfo;
begin
  try
    FHandle^.Table^.GetDriverInfo(@Result, FHandle);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.OpenPost(Post: Integer);
begin
  try
    FHandle^.Table^.OpenPost(FHandle, Post);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.SetPrice(Post, Nozzle: Integer; Price: Double);
begin
  try
    FHandle^.Table^.SetPrice(FHandle, Post, 0, Nozzle, 0, 0, Price);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.PresetVolume(Post, Nozzle: Integer; Volume: Double);
begin
  try
    FHandle^.Table^.PresetVolume(FHandle, Post, 0, Nozzle, 0, Volume);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.PresetMoney(Post, Nozzle: Integer; Money: Double);
begin
  try
    FHandle^.Table^.PresetMoney(FHandle, Post, 0, Nozzle, 0, Money);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.StartPump(Post: Integer);
begin
  try
    FHandle^.Table^.StartPump(FHandle, Post, 0, 0);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.StopPump(Post: Integer; SendStop: Boolean);
begin
  try
    FHandle^.Table^.StopPump(FHandle, Post, 0, Ord(SendStop));
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.PollDispense(Post: Integer; out Volume, Money: Double; Running: Boolean);
const
  Modes: array[Boolean] of LongInt = (0, 1);
begin
  Money := 0;
  try
    Volume := FHandle^.Table^.PollDispense(FHandle, Post, Modes[Running], Money);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.ReadFinalDispense(Post: Integer; out Volume, Money: Double);
begin
  Volume := 0;
  Money := 0;
  try
    FHandle^.Table^.ReadFinalDispense(FHandle, Post, 0, Volume, Money);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

function TVu30Driver.ReadCounter(Post, Nozzle: Integer): Double;
var
  Second: Double;
begin
  Result := 0;
  Second := 0;
  try
    FHandle^.Table^.ReadCounter(FHandle, Post, 0, Nozzle, Result, Second, 0, 0);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

function TVu30Driver.PumpState(Post: Integer): LongWord;
begin
  try
    Result := FHandle^.Table^.GetPumpState(FHandle, PostByte(Post), 0);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

function TVu30Driver.Capability(Number: Integer; out Value: LongInt): Boolean;
begin
  Value := 0;
  try
    Result := FHandle^.Table^.GetCapability(FHandle, Number, Value);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.ReadStatusRecord(Post: Integer; PassedOn: Byte; var Rec: TVu30StatusRecord);
begin
  try
    FHandle^.Table^.GetStatusRecord(@Rec, FHandle, PostByte(Post), PassedOn, 0);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.AddMenuEntry(ParentItem: PVu30MenuItem; CreateItem: TVu30CreateItemFn);
begin
  try
    FHandle^.Table^.AddMenuEntry(FHandle, ParentItem, CreateItem);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

function TVu30Driver.GetLinkStatus(Post: Integer): Byte;
begin
  try
    Result := FHandle^.Table^.GetLinkStatus(FHandle, PostByte(Post));
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

procedure TVu30Driver.SetLinkStatus(Post: Integer; Value: Byte);
begin
  try
    FHandle^.Table^.SetLinkStatus(FHandle, PostByte(Post), Value);
  except
    on E: EExternalException do
      if Vu30IsError(E) then raise Vu30ErrorOf(E) else raise;
  end;
end;

{$else}

{ The error-returning calls (vu30_calls.h): 0, or the error's kind with its
  message in Message. The C convention of the platform. }
type
  TVu30Message = array[0..511] of AnsiChar;

function Vu30CallGetVU30(Ignored: Byte; HostWindow: Pointer; Dispatcher: PVu30Dispatcher;
  out Driver: PVu30Driver; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_GetVU30';
function Vu30CallGetDriverInfo(Driver: PVu30Driver; Info: PVu30DriverInfo; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_GetDriverInfo';
function Vu30CallSetLinkStatus(Driver: PVu30Driver; Post: Byte; Value: Byte; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_SetLinkStatus';
function Vu30CallGetLinkStatus(Driver: PVu30Driver; Post: Byte; out Status: Byte;
  Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_GetLinkStatus';
function Vu30CallStopPump(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Exchange: LongInt;
  Result: PByte; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_StopPump';
function Vu30CallReadFinalDispense(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
  out Volume: Double; out Money: Double; Message: PAnsiChar; MessageSize: NativeUInt): LongWord;
  cdecl; external Vu30CallsLibrary name 'vu30_call_ReadFinalDispense';
function Vu30CallReadCounter(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
  Nozzle: LongInt; out Counter: Double; out Second: Double; Reserved2: LongInt;
  Reserved3: LongInt; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_ReadCounter';
function Vu30CallPollDispense(Driver: PVu30Driver; Post: LongInt; Mode: LongInt; out Money: Double;
  out Volume: Double; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_PollDispense';
function Vu30CallGetPumpState(Driver: PVu30Driver; Post: Byte; Reserved: LongInt;
  out State: LongWord; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_GetPumpState';
function Vu30CallSetPrice(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt; Nozzle: LongInt;
  Reserved2: LongInt; Reserved3: LongInt; Price: Double; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_SetPrice';
function Vu30CallPresetVolume(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
  Nozzle: LongInt; Reserved2: LongInt; Volume: Double; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_PresetVolume';
function Vu30CallPresetMoney(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
  Nozzle: LongInt; Reserved2: LongInt; Money: Double; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_PresetMoney';
function Vu30CallStartPump(Driver: PVu30Driver; Post: LongInt; Reserved: LongInt;
  Reserved2: LongInt; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_StartPump';
function Vu30CallOpenPost(Driver: PVu30Driver; Post: LongInt; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_OpenPost';
function Vu30CallGetCapability(Driver: PVu30Driver; Number: LongInt; out Value: LongInt;
  out Known: Boolean; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_GetCapability';
function Vu30CallGetStatusRecord(Driver: PVu30Driver; Rec: PVu30StatusRecord; Post: Byte;
  PassedOn: Byte; Reserved: LongInt; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_GetStatusRecord';
function Vu30CallAddMenuEntry(Driver: PVu30Driver; ParentItem: PVu30MenuItem;
  CreateItem: TVu30CreateItemFn; Message: PAnsiChar; MessageSize: NativeUInt): LongWord; cdecl;
  external Vu30CallsLibrary name 'vu30_call_AddMenuEntry';
function Vu30CallDestroy(Driver: PVu30Driver; Message: PAnsiChar;
  MessageSize: NativeUInt): LongWord; cdecl; external Vu30CallsLibrary name 'vu30_call_Destroy';

{ Raises the error a call returned, if any. }
procedure Check(Kind: LongWord; const Text: TVu30Message);
var
  Count: NativeUInt;
begin
  if Kind = 0 then
    Exit;
  Count := 0;
  while (Count < SizeOf(Text)) and (Text[Count] <> #0) do
    Inc(Count);
  raise EVu30Error.CreateKind(Kind, Cp1251Text(@Text[0], Count));
end;

procedure TVu30Driver.Load(Dispatcher: PVu30Dispatcher; Window: TVu30Window);
var
  Text: TVu30Message;
begin
  Check(Vu30CallGetVU30(0, Window, Dispatcher, FHandle, @Text[0], SizeOf(Text)), Text);
end;

{ Released through entry 25, which does what entry -1 does: entry -1 would
  let the library's C++ exception (a release from inside the driver's own
  exchange, refused) run into Pascal frames. }
destructor TVu30Driver.Destroy;
var
  Text: TVu30Message;
begin
  if FHandle <> nil then
  begin
    { The handle is kept until the release succeeds: a refused one leaves
      the driver running, to be released by a later Free. }
    Check(Vu30CallDestroy(FHandle, @Text[0], SizeOf(Text)), Text);
    FHandle := nil;
  end;
  inherited Destroy;
end;

function TVu30Driver.Identity: TVu30DriverInfo;
var
  Text: TVu30Message;
begin
  Check(Vu30CallGetDriverInfo(FHandle, @Result, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.OpenPost(Post: Integer);
var
  Text: TVu30Message;
begin
  Check(Vu30CallOpenPost(FHandle, Post, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.SetPrice(Post, Nozzle: Integer; Price: Double);
var
  Text: TVu30Message;
begin
  Check(Vu30CallSetPrice(FHandle, Post, 0, Nozzle, 0, 0, Price, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.PresetVolume(Post, Nozzle: Integer; Volume: Double);
var
  Text: TVu30Message;
begin
  Check(Vu30CallPresetVolume(FHandle, Post, 0, Nozzle, 0, Volume, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.PresetMoney(Post, Nozzle: Integer; Money: Double);
var
  Text: TVu30Message;
begin
  Check(Vu30CallPresetMoney(FHandle, Post, 0, Nozzle, 0, Money, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.StartPump(Post: Integer);
var
  Text: TVu30Message;
begin
  Check(Vu30CallStartPump(FHandle, Post, 0, 0, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.StopPump(Post: Integer; SendStop: Boolean);
var
  Text: TVu30Message;
begin
  Check(Vu30CallStopPump(FHandle, Post, 0, Ord(SendStop), nil, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.PollDispense(Post: Integer; out Volume, Money: Double; Running: Boolean);
const
  Modes: array[Boolean] of LongInt = (0, 1);
var
  Text: TVu30Message;
begin
  Volume := 0;
  Money := 0;
  Check(Vu30CallPollDispense(FHandle, Post, Modes[Running], Money, Volume, @Text[0],
    SizeOf(Text)), Text);
end;

procedure TVu30Driver.ReadFinalDispense(Post: Integer; out Volume, Money: Double);
var
  Text: TVu30Message;
begin
  Volume := 0;
  Money := 0;
  Check(Vu30CallReadFinalDispense(FHandle, Post, 0, Volume, Money, @Text[0], SizeOf(Text)), Text);
end;

function TVu30Driver.ReadCounter(Post, Nozzle: Integer): Double;
var
  Text: TVu30Message;
  Second: Double;
begin
  Result := 0;
  Second := 0;
  Check(Vu30CallReadCounter(FHandle, Post, 0, Nozzle, Result, Second, 0, 0, @Text[0],
    SizeOf(Text)), Text);
end;

function TVu30Driver.PumpState(Post: Integer): LongWord;
var
  Text: TVu30Message;
begin
  Result := 0;
  Check(Vu30CallGetPumpState(FHandle, PostByte(Post), 0, Result, @Text[0], SizeOf(Text)), Text);
end;

function TVu30Driver.Capability(Number: Integer; out Value: LongInt): Boolean;
var
  Text: TVu30Message;
begin
  Value := 0;
  Result := False;
  Check(Vu30CallGetCapability(FHandle, Number, Value, Result, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.ReadStatusRecord(Post: Integer; PassedOn: Byte; var Rec: TVu30StatusRecord);
var
  Text: TVu30Message;
begin
  Check(Vu30CallGetStatusRecord(FHandle, @Rec, PostByte(Post), PassedOn, 0, @Text[0],
    SizeOf(Text)), Text);
end;

procedure TVu30Driver.AddMenuEntry(ParentItem: PVu30MenuItem; CreateItem: TVu30CreateItemFn);
var
  Text: TVu30Message;
begin
  Check(Vu30CallAddMenuEntry(FHandle, ParentItem, CreateItem, @Text[0], SizeOf(Text)), Text);
end;

function TVu30Driver.GetLinkStatus(Post: Integer): Byte;
var
  Text: TVu30Message;
begin
  Result := 0;
  Check(Vu30CallGetLinkStatus(FHandle, PostByte(Post), Result, @Text[0], SizeOf(Text)), Text);
end;

procedure TVu30Driver.SetLinkStatus(Post: Integer; Value: Byte);
var
  Text: TVu30Message;
begin
  Check(Vu30CallSetLinkStatus(FHandle, PostByte(Post), Value, @Text[0], SizeOf(Text)), Text);
end;

{$endif}

constructor TVu30Driver.Create(Dispatcher: PVu30Dispatcher; Window: TVu30Window);
begin
  inherited Create;
  Load(Dispatcher, Window);
end;

constructor TVu30Driver.Create(Dispatcher: TVu30DispatcherBase; Window: TVu30Window);
begin
  inherited Create;
  if Dispatcher = nil then
    Load(nil, Window)
  else
    Load(Dispatcher.Dispatcher, Window);
end;

{ ---- TVu30DispatcherBase: the table entries, each a guard around a method }

function OwnerOf(Dispatcher: PVu30Dispatcher): TVu30DispatcherBase;
type
  PVu30DispatcherFrame = ^TVu30DispatcherFrame;
begin
  Result := PVu30DispatcherFrame(Dispatcher)^.Owner;
end;

{ Hands the object being handled to the owner's Raised; called inside the
  entries' handlers. }
procedure ReportRaised(Owner: TVu30DispatcherBase);
begin
  try
    Owner.Raised(ExceptObject);
  except
    { Raised may not raise: dropped. }
  end;
end;

function EntryGetChannelError(Dispatcher: PVu30Dispatcher; Channel: Byte): LongInt; stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Result := Owner.GetChannelError(Channel);
  except
    ReportRaised(Owner);
    Result := -1;
  end;
end;

procedure EntrySetChannelError(Dispatcher: PVu30Dispatcher; Channel: Byte; Code: LongInt); stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Owner.SetChannelError(Channel, Code);
  except
    ReportRaised(Owner);
  end;
end;

procedure EntrySetChannelStatus(Dispatcher: PVu30Dispatcher; Channel: Byte; Status: Byte); stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Owner.SetChannelStatus(Channel, Status);
  except
    ReportRaised(Owner);
  end;
end;

function EntryGetChannelStatus(Dispatcher: PVu30Dispatcher; Channel: Byte): Byte; stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Result := Owner.GetChannelStatus(Channel);
  except
    ReportRaised(Owner);
    Result := Vu30LinkFailed;
  end;
end;

function EntryConfigureChannel(Dispatcher: PVu30Dispatcher; Post: Byte; Mode: LongInt;
  LineSettings: LongWord): LongInt; stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Result := Owner.ConfigureChannel(Post, Mode, LineSettings);
  except
    ReportRaised(Owner);
    Result := -1;
  end;
end;

function EntryTransact(Dispatcher: PVu30Dispatcher; Channel: Byte; LineAddress: Byte;
  Request: PByte; RequestLength: Byte; Reply: PByte; ReplyLength: Byte;
  ReplyType: Byte): LongInt; stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Result := Owner.Transact(Channel, LineAddress, Request, RequestLength, Reply, ReplyLength,
      ReplyType);
  except
    ReportRaised(Owner);
    Result := Vu30TransactRaised;
  end;
end;

procedure EntrySetReplyChecker(Dispatcher: PVu30Dispatcher; Channel: Byte;
  Method: TVu30BoundMethod); stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Owner.SetReplyChecker(Channel, Method);
  except
    ReportRaised(Owner);
  end;
end;

procedure EntrySetMessageHook(Dispatcher: PVu30Dispatcher; Post: Byte;
  Method: TVu30BoundMethod); stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Owner.SetMessageHook(Post, Method);
  except
    ReportRaised(Owner);
  end;
end;

procedure EntrySetPostInit(Dispatcher: PVu30Dispatcher; Post: Byte;
  Method: TVu30BoundMethod); stdcall;
var
  Owner: TVu30DispatcherBase;
begin
  Owner := OwnerOf(Dispatcher);
  try
    Owner.SetPostInit(Post, Method);
  except
    ReportRaised(Owner);
  end;
end;

var
  { The one table of every TVu30DispatcherBase, filled when the unit
    initialises. }
  DispatcherBaseTable: TVu30DispatcherTable;

procedure FillDispatcherBaseTable;
begin
  FillChar(DispatcherBaseTable, SizeOf(DispatcherBaseTable), 0);
  DispatcherBaseTable.GetChannelError := @EntryGetChannelError;
  DispatcherBaseTable.SetChannelError := @EntrySetChannelError;
  DispatcherBaseTable.SetChannelStatus := @EntrySetChannelStatus;
  DispatcherBaseTable.GetChannelStatus := @EntryGetChannelStatus;
  DispatcherBaseTable.ConfigureChannel := @EntryConfigureChannel;
  DispatcherBaseTable.Transact := @EntryTransact;
  DispatcherBaseTable.SetReplyChecker := @EntrySetReplyChecker;
  DispatcherBaseTable.SetMessageHook := @EntrySetMessageHook;
  DispatcherBaseTable.SetPostInit := @EntrySetPostInit;
end;

constructor TVu30DispatcherBase.Create;
var
  Channel: Integer;
begin
  inherited Create;
  FFrame.Dispatcher.Table := @DispatcherBaseTable;
  FFrame.Owner := Self;
  for Channel := Low(FStatus) to High(FStatus) do
    FStatus[Channel] := Vu30LinkGood;
end;

function TVu30DispatcherBase.GetDispatcher: PVu30Dispatcher;
begin
  Result := @FFrame.Dispatcher;
end;

function TVu30DispatcherBase.GetChannelError(Channel: Byte): LongInt;
begin
  Result := FError[Channel];
end;

procedure TVu30DispatcherBase.SetChannelError(Channel: Byte; Code: LongInt);
begin
  FError[Channel] := Code;
end;

procedure TVu30DispatcherBase.SetChannelStatus(Channel: Byte; Status: Byte);
begin
  FStatus[Channel] := Status;
end;

function TVu30DispatcherBase.GetChannelStatus(Channel: Byte): Byte;
begin
  Result := FStatus[Channel];
end;

function TVu30DispatcherBase.ConfigureChannel(Post: Byte; Mode: LongInt;
  LineSettings: LongWord): LongInt;
begin
  Result := 0;
end;

procedure TVu30DispatcherBase.SetReplyChecker(Channel: Byte; const Method: TVu30BoundMethod);
begin
  FChecker[Channel] := Method;
end;

procedure TVu30DispatcherBase.SetMessageHook(Post: Byte; const Method: TVu30BoundMethod);
begin
  FHook[Post] := Method;
end;

procedure TVu30DispatcherBase.SetPostInit(Post: Byte; const Method: TVu30BoundMethod);
begin
  FPostInit[Post] := Method;
end;

procedure TVu30DispatcherBase.Raised(E: TObject);
begin
end;

function TVu30DispatcherBase.CheckReply(Channel: Byte; Reply: PByte; var Count: Byte;
  var Expected: Byte): Boolean;
begin
  Result := (FChecker[Channel].Code <> nil) and
    FChecker[Channel].CheckReply(Channel, Reply, 0, Count, Expected);
end;

procedure TVu30DispatcherBase.RouteMessage(Post: Byte; WorkerAddress: Byte; Buffer: PByte;
  Length: Byte);
begin
  if FHook[Post].Code <> nil then
    FHook[Post].RouteMessage(WorkerAddress, Buffer, 0, Length);
end;

procedure TVu30DispatcherBase.PreparePost(Post: Byte);
begin
  if FPostInit[Post].Code <> nil then
    FPostInit[Post].PreparePost(Post);
end;

{$ifdef FPC}
{$ifdef UNIX}
{ The driver's workers are threads of their own: without a thread manager
  the runtime cannot serve them (nor even set IsMultiThread). }
procedure RequireThreadManager;
var
  Manager: TThreadManager;
begin
  if GetThreadManager(Manager) and Assigned(Manager.InitManager) then
    Exit;
  WriteLn(StdErr, 'vu30: this program has no thread manager; the driver''s post workers ' +
    'need one. Make cthreads the first unit of the program''s uses clause ' +
    '(uses cthreads, cwstring, ...).');
  Halt(232);
end;
{$endif}
{$endif}

initialization
{$ifdef FPC}
{$ifdef UNIX}
  RequireThreadManager;
{$endif}
{$endif}
  FillDispatcherBaseTable;
  { The driver's workers call the host's dispatcher on threads of their own. }
  IsMultiThread := True;
end.
