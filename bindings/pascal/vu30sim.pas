// SPDX-License-Identifier: MIT
{
  vu30sim for Object Pascal hosts: the dispenser simulator (vu30_sim.h) as
  Pascal declarations, for Free Pascal 3.2.2 in objfpc and delphi modes.

  A host tests itself without a forecourt by handing the simulator's port
  dispatcher to GetVU30 in place of its own, and plays the customer and the
  line through the simulator:

    Vu30SimDefaultOptions(Options);
    Options.Baud := 0;
    Vu30SimCreate(Options, Sim);
    Vu30SimWritePortTypes(Sim, Folder);   the folder the driver reads cnf.INI from
    Driver := TVu30Driver.Create(Vu30SimDispatcher(Sim));
    Driver.OpenPost(1);
    Vu30SimCheckPostType(Sim, 1);         the driver knows the simulated type
    Vu30SimLiftNozzle(Sim, 1, 2);
    ...
    Vu30SimForgetCallbacks(Sim);
    Driver.Free;
    Vu30SimDestroy(Sim);

  Each function is the one of vu30_sim.h with the same name
  (Vu30SimLiftNozzle is vu30_sim_lift_nozzle), with its arguments in the
  same order; the reference comment there gives each argument's unit and
  range, what is refused with which result, and what a call leaves behind.
  Posts count 1..30, nozzles 1..8; amounts are in hundredths. Every
  function may be called from any thread.

  Every function returns Vu30SimOk or another result; a refused call
  changes nothing and Vu30SimLastError tells why. No exception leaves a
  function of the simulator. Functions are stdcall, as the driver's are.
  The simulator's library is vu30-sim.dll (libvu30-sim.so.2 elsewhere);
  the driver's unit vu30 gives the dispatcher type.
}
unit vu30sim;

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
  vu30;

const
{$ifdef MSWINDOWS}
  Vu30SimLibrary = 'vu30-sim.dll';
{$else}
  Vu30SimLibrary = 'libvu30-sim.so.2';
{$endif}

  { Results. }
  Vu30SimOk = 0;
  Vu30SimBadArgument = 1;  { an argument out of range or a nil pointer }
  Vu30SimWrongState = 2;   { the post is not where the call needs it }
  Vu30SimTimedOut = 3;     { a wait ended before what it waited for }
  Vu30SimNotFound = 4;     { no such sale }
  Vu30SimFailed = 5;       { out of memory, no thread }

  { Fault kinds. }
  Vu30SimFaultWrongLength = $01;    { a reply one byte short (command acted on) }
  Vu30SimFaultMalformedByte = $02;  { a reply byte damaged (acted on) }
  Vu30SimFaultFailedResult = $04;   { Transact returns a line fault (frame lost) }
  Vu30SimFaultRaised = $08;         { Transact raises (frame lost) }
  Vu30SimFaultLostMessage = $10;    { a dispenser's message never reaches the driver }
  Vu30SimAllFaults = $1F;

  { Transact's results besides 0. }
  Vu30SimResultNoReply = $E0;    { the dispenser did not answer }
  Vu30SimResultLineFault = $E1;  { the frame was lost on the line }
  Vu30SimResultBadCall = $E2;    { the call itself was malformed }

  { Phases of a post's sale. }
  Vu30SimIdle = 0;            { all nozzles hung up, nothing outstanding }
  Vu30SimPriceRequested = 1;  { nozzle lifted, price request outstanding }
  Vu30SimAwaitingStart = 2;   { price known, waiting for the start request }
  Vu30SimDoseRequested = 3;   { started, dose request outstanding }
  Vu30SimFlowing = 4;         { dose released, fuel flowing }
  Vu30SimReporting = 5;       { flow ended, nozzle hung up, end report outstanding }

type
  PVu30Sim = Pointer;

  { The forecourt's options; Vu30SimDefaultOptions fills in the defaults. }
  TVu30SimOptions = record
    Baud: LongWord;                   { 0..1000000 (1200); 0: every frame instant }
    RepeatTimeoutMs: LongWord;        { 1..3600000 (300); longer than the line's
                                        round trip, about 150 ms at 1200 baud }
    ReactionTimeMs: LongWord;         { start request to dose request (200) }
    FaultRatePpm: LongWord;           { random faults, in millionths (0) }
    FaultKinds: LongWord;             { Vu30SimFault* bits they draw from (all) }
    AddressByteInMessages: LongWord;  { nonzero: messages lead with the address (1) }
    Seed: QWord;                      { of the random faults (1) }
  end;

  { A post's set-up. }
  TVu30SimPostConfig = record
    PortType: LongWord;          { 0 "ЕС-2000", 1 "FAS", 2 "ER3/2", 3 "ER112" }
    ImpulsesPerLitre: LongWord;  { types 1 and 3: 1..255 (100) }
    Nozzles: LongWord;           { 1..8 (4) }
    FlowRate: LongWord;          { hundredths of a litre a second, 1..100000 (2000) }
  end;

  { A completed sale as the dispenser measured it. }
  TVu30SimSale = record
    Volume: Int64;         { litres x 100 }
    Money: Int64;          { volume x price, rounded to the cent, x 100 }
    CounterBefore: Int64;  { the nozzle's totalizer before, litres x 100 }
    CounterAfter: Int64;   { and after the sale }
    Post: LongInt;
    Nozzle: LongInt;       { 1..8 }
    Price: LongInt;        { money units a litre x 100 }
    Refused: LongInt;      { nonzero: the dose was refused, nothing dispensed }
  end;

function Vu30SimDefaultOptions(out Options: TVu30SimOptions): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_default_options';
function Vu30SimCreate(constref Options: TVu30SimOptions; out Sim: PVu30Sim): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_create';
procedure Vu30SimDestroy(Sim: PVu30Sim);
  stdcall; external Vu30SimLibrary name 'vu30_sim_destroy';
function Vu30SimDispatcher(Sim: PVu30Sim): PVu30Dispatcher;
  stdcall; external Vu30SimLibrary name 'vu30_sim_dispatcher';
function Vu30SimForgetCallbacks(Sim: PVu30Sim): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_forget_callbacks';
function Vu30SimLastError: PAnsiChar;
  stdcall; external Vu30SimLibrary name 'vu30_sim_last_error';

function Vu30SimConfigurePost(Sim: PVu30Sim; Post: LongInt;
  constref Config: TVu30SimPostConfig): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_configure_post';
function Vu30SimSetCounter(Sim: PVu30Sim; Post, Nozzle: LongInt; Hundredths: Int64): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_set_counter';
function Vu30SimCounter(Sim: PVu30Sim; Post, Nozzle: LongInt; out Hundredths: Int64): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_counter';
function Vu30SimPrice(Sim: PVu30Sim; Post, Nozzle: LongInt; out Hundredths: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_price';
function Vu30SimLineSettings(Sim: PVu30Sim; Post: LongInt; out Settings: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_line_settings';
function Vu30SimChannel(Sim: PVu30Sim; Channel: LongInt; out Status: Byte;
  out Error: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_channel';

function Vu30SimLiftNozzle(Sim: PVu30Sim; Post, Nozzle: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_lift_nozzle';
function Vu30SimHangUp(Sim: PVu30Sim; Post: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_hang_up';
function Vu30SimStopFlow(Sim: PVu30Sim; Post: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_stop_flow';

function Vu30SimFailFrames(Sim: PVu30Sim; Post: LongInt; Fault, Count: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_fail_frames';
function Vu30SimLoseMessages(Sim: PVu30Sim; Post: LongInt; Count: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_lose_messages';
function Vu30SimSetFaultRate(Sim: PVu30Sim; Ppm: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_set_fault_rate';
function Vu30SimFaultCount(Sim: PVu30Sim; Fault: LongWord; out Count: QWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_fault_count';

function Vu30SimPhase(Sim: PVu30Sim; Post: LongInt; out Phase: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_phase';
function Vu30SimWaitPhase(Sim: PVu30Sim; Post, Phase: LongInt; TimeoutMs: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_wait_phase';
function Vu30SimSaleCount(Sim: PVu30Sim; Post: LongInt; out Count: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_sale_count';
function Vu30SimWaitSales(Sim: PVu30Sim; Post: LongInt; Count, TimeoutMs: LongWord): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_wait_sales';
function Vu30SimSale(Sim: PVu30Sim; Post: LongInt; Index: LongWord;
  out Sale: TVu30SimSale): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_sale';

{ Vu30SimOk when the driver set the post's line up for the simulated
  dispenser's type (it takes the type from cnf.INI, COM_n for post n);
  Vu30SimWrongState, with Vu30SimLastError saying what differs and the
  cnf.INI key to set, when it did so for another type or not yet. Types 1
  and 3 share their line set-up and are not told apart. }
function Vu30SimCheckPostType(Sim: PVu30Sim; Post: LongInt): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_check_post_type';
{ Writes the simulated posts' types and impulse factors (posts 1..29) into
  Folder's cnf.INI, keeping its other sections and keys, before the driver
  is made. Linux: the driver reads the folder named by WINDIR; Windows: the
  Windows directory. Vu30SimWrongState when post 30 is simulated with a
  type other than 0; Vu30SimFailed when the file cannot be written. }
function Vu30SimWritePortTypes(Sim: PVu30Sim; Folder: PAnsiChar): LongInt;
  stdcall; external Vu30SimLibrary name 'vu30_sim_write_port_types';

{ The record layouts of vu30_sim.h, the same on 32 and 64 bits. }
{$if (SizeOf(TVu30SimOptions) <> 32) or (SizeOf(TVu30SimPostConfig) <> 16) or (SizeOf(TVu30SimSale) <> 48)}
  {$error the simulator's records differ from vu30_sim.h}
{$endif}

implementation

end.
